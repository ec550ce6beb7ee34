#include "app/SingleInstance.h"

#include "app/Os.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
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
    socket.connectToServer(SocketPath());
    if (!socket.waitForConnected(500)) return;
    QByteArray request(kShow);
    if (!activationToken.isEmpty()) request += ' ' + activationToken.toLatin1();
    socket.write(request + '\n');
    socket.waitForBytesWritten(500);
    socket.disconnectFromServer();
}

}  // namespace camwarden
