#include "app/SingleInstance.h"

#include "app/Logging.h"
#include "platform/Os.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <algorithm>
#include <filesystem>
#include <optional>

namespace camwarden {
namespace {
constexpr char kShow[] = "show";
// Longer than any token a desktop hands out; anything else is not one.
constexpr qsizetype kMaxTokenSize = 512;
// A copy on another machine cannot be asked whether it still runs, and a
// network home may not pass its file lock on: its lock counts as held while
// it is kept fresh, and as left by a crash once it is not.
constexpr int kProfileLockStaleMs = 3 * 60 * 1000;
constexpr int kProfileLockFreshenMs = 60 * 1000;

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

SingleInstance::SingleInstance(const QString& folder, const QString& profileFolder) {
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
    const QString profile = !profileFolder.isEmpty() ? profileFolder
                            : folder.isEmpty()       ? os::StateFolder()
                                                     : folder;
    profileLockPath_ = profile + QStringLiteral("/camwarden-profile.lock");
    QDir().mkpath(profile);
    keepFresh_.setInterval(kProfileLockFreshenMs);
    connect(&keepFresh_, &QTimer::timeout, this, [this] {
        std::error_code ec;
        std::filesystem::last_write_time(std::filesystem::path(profileLockPath_.toStdU16String()),
                                         std::filesystem::file_time_type::clock::now(), ec);
    });
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
    }
    profileLock_ = std::make_unique<QLockFile>(profileLockPath_);
    profileLock_->setStaleLockTime(kProfileLockStaleMs);
    if (!profileLock_->tryLock(0)) {
        const bool taken = profileLock_->error() == QLockFile::LockFailedError;
        qint64 pid = 0;
        QString host;
        QString app;
        if (taken) profileLock_->getLockInfo(&pid, &host, &app);
        profileLock_.reset();
        if (taken) {
            lock_.reset();
            profileTaken_ =
                QStringLiteral(
                    "another copy of the program (process %1 on %2) uses this profile: it holds %3")
                    .arg(pid)
                    .arg(host.isEmpty() ? QStringLiteral("an unnamed machine") : host,
                         profileLockPath_);
            return false;
        }
        if (problem_.isEmpty())
            problem_ = QStringLiteral(
                           "the lock %1 cannot be created; a copy on another machine that "
                           "shares this profile would not be noticed")
                           .arg(profileLockPath_);
    } else {
        keepFresh_.start();
    }
    if (!lock_) return true;
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
    keepFresh_.stop();
    server_.reset();
    lock_.reset();
    profileLock_.reset();
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
