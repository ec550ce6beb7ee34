#include "app/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace camwarden {
namespace {
constexpr char kShow[] = "show\n";
}

SingleInstance::SingleInstance(QString folder) : folder_(std::move(folder)) {
    if (folder_.isEmpty())
        folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder_.isEmpty()) folder_ = QDir::tempPath();
    QDir().mkpath(folder_);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() {
    lock_ = std::make_unique<QLockFile>(folder_ + QStringLiteral("/camwarden.lock"));
    // A lock left by a crashed run is taken over, so a crash never locks the user out.
    if (!lock_->tryLock(0)) {
        const bool heldElsewhere = lock_->error() == QLockFile::LockFailedError;
        lock_.reset();
        if (heldElsewhere) return false;
        problem_ = QStringLiteral(
                       "the lock %1/camwarden.lock cannot be created; another copy "
                       "of the program would not be noticed")
                       .arg(folder_);
        return true;
    }
    const QString name = folder_ + QStringLiteral("/camwarden.sock");
    QLocalServer::removeServer(name);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (server_->listen(name)) {
        connect(server_.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = server_->nextPendingConnection()) {
                connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                    if (socket->readAll().contains(kShow)) Q_EMIT ShowRequested();
                    socket->disconnectFromServer();
                });
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    return true;
}

void SingleInstance::Release() {
    server_.reset();
    lock_.reset();
}

void SingleInstance::AskRunningToShow() {
    QLocalSocket socket;
    socket.connectToServer(folder_ + QStringLiteral("/camwarden.sock"));
    if (!socket.waitForConnected(500)) return;
    socket.write(kShow);
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
}

}  // namespace camwarden
