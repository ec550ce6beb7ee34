#include "app/SingleInstance.h"

#include "app/Logging.h"
#include "app/Os.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <algorithm>
#include <optional>

namespace camwarden {
namespace {
constexpr char kShow[] = "show";
// Longer than any token a desktop hands out; anything else is not one.
constexpr qsizetype kMaxTokenSize = 512;

// The token of a "show" request, empty for none or for one that cannot be
// a token (it ends up in the environment, so only printable ASCII passes).
std::optional<QString> ParseShow(const QByteArray& message) {
    for (const QByteArray& line : message.split('\n')) {
        if (line == kShow) return QString();
        if (!line.startsWith(QByteArray(kShow) + ' ')) continue;
        const QByteArray token = line.mid(sizeof kShow);
        const bool plain =
            token.size() <= kMaxTokenSize &&
            std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; });
        return plain ? QString::fromLatin1(token) : QString();
    }
    return std::nullopt;
}

}  // namespace

SingleInstance::SingleInstance(const QString& folder) {
    os::InstanceNames names;
    if (folder.isEmpty()) {
        names = os::DefaultInstanceNames();
    } else {
        const QString base = folder + QStringLiteral("/camwarden");
        names = {base + QStringLiteral(".lock"), base + QStringLiteral(".sock")};
    }
    lockPath_ = names.lockFile;
    serverName_ = names.server;
    QDir().mkpath(QFileInfo(lockPath_).absolutePath());
}

QString SingleInstance::LockPath() const {
    return lockPath_;
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
    QLocalServer::removeServer(serverName_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverName_)) {
        qCWarning(lcApp).noquote()
            << "a later start cannot ask this one to show its window:" << server_->errorString();
    } else {
        connect(server_.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* socket = server_->nextPendingConnection()) {
                connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                    if (!socket->canReadLine()) return;  // the rest is on its way
                    if (const auto token = ParseShow(socket->readAll()))
                        Q_EMIT ShowRequested(*token);
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

void SingleInstance::AskRunningToShow(const QString& activationToken) {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(500)) return;
    os::LetRunningCopyComeForward(socket.socketDescriptor());
    QByteArray request(kShow);
    if (!activationToken.isEmpty()) request += ' ' + activationToken.toLatin1();
    socket.write(request + '\n');
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
}

}  // namespace camwarden
