#include "app/SingleInstance.h"

#include "app/Os.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace camwarden {
namespace {
constexpr char kShow[] = "show\n";
}  // namespace

SingleInstance::SingleInstance(QString folder) : folder_(std::move(folder)) {
    if (folder_.isEmpty())
        folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder_.isEmpty()) {
        // No runtime folder of the user's own (cron, ssh, one another user
        // made): every user shares the temporary folder, so the names say
        // whose they are, or one user's copy would stop every other's.
        folder_ = QDir::tempPath();
        name_ += QLatin1Char('-') + os::UserId();
    }
    QDir().mkpath(folder_);
}

QString SingleInstance::LockPath() const {
    return folder_ + QLatin1Char('/') + name_ + QStringLiteral(".lock");
}

QString SingleInstance::SocketPath() const {
    return folder_ + QLatin1Char('/') + name_ + QStringLiteral(".sock");
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() {
    lock_ = std::make_unique<QLockFile>(LockPath());
    // A lock left by a crashed run is taken over, so a crash never locks the user out.
    if (!lock_->tryLock(0)) {
        const bool heldElsewhere = lock_->error() == QLockFile::LockFailedError;
        lock_.reset();
        if (heldElsewhere) return false;
        problem_ = QStringLiteral(
                       "the lock %1 cannot be created; another copy "
                       "of the program would not be noticed")
                       .arg(LockPath());
        return true;
    }
    const QString name = SocketPath();
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
    socket.connectToServer(SocketPath());
    if (!socket.waitForConnected(500)) return;
    socket.write(kShow);
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
}

}  // namespace camwarden
