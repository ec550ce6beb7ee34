#include "storage/ClipFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace camwarden::store {
namespace {

QString ErrnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Held for as long as the file is open: the next run repairs a leftover only
// when no copy of the program (one that ran without the single-instance
// lock) still writes into it. A folder that cannot lock goes without.
bool Claim(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

ClipFile::ClipFile(QString path, int fd) : path_(std::move(path)), fd_(fd) {}

ClipFile::~ClipFile() {
    if (fd_ >= 0) ::close(fd_);
}

int ClipFile::CreateNew(const QString& name, bool* taken, QString* why) {
    // O_EXCL with O_CREAT fails on any existing name, a link included.
    const int fd = ::open(QFile::encodeName(name).constData(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
        Claim(fd);
        return fd;
    }
    const int err = errno;
    *taken = err == EEXIST;
    *why = QStringLiteral("%1 cannot be created: %2").arg(name, ErrnoText(err));
    return -1;
}

std::unique_ptr<ClipFile> ClipFile::OpenLeftover(const QString& path, Leftover* state,
                                                 QString* error) {
    const QByteArray name = QFile::encodeName(path);
    const auto fail = [&](Leftover what, const QString& why) {
        *state = what;
        if (error) *error = why;
        return nullptr;
    };
    struct stat st = {};
    // Looked at before it is opened: opening a device or a FIFO may do something.
    if (::lstat(name.constData(), &st) != 0) {
        const int err = errno;
        struct stat folder = {};
        const bool folderThere =
            ::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder) == 0 &&
            S_ISDIR(folder.st_mode);
        if (err == ENOENT && folderThere) return fail(Leftover::Gone, ErrnoText(err));
        return fail(err == ENOENT || err == ENOTDIR ? Leftover::Later : Leftover::NotOurs,
                    folderThere ? ErrnoText(err) : QStringLiteral("its folder is not there"));
    }
    const auto notOurs = [&](const struct stat& s) -> QString {
        if (S_ISLNK(s.st_mode)) return QStringLiteral("it is a link");
        if (!S_ISREG(s.st_mode)) return QStringLiteral("it is not a plain file");
        if (s.st_uid != ::geteuid()) return QStringLiteral("it belongs to another user");
        return {};
    };
    if (const QString why = notOurs(st); !why.isEmpty()) return fail(Leftover::NotOurs, why);
    const int fd =
        ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return fail(
            err == ELOOP || err == EACCES || err == EPERM ? Leftover::NotOurs : Leftover::Later,
            ErrnoText(err));
    }
    // The same checks on what was opened: the name may have changed since.
    if (::fstat(fd, &st) != 0 || !notOurs(st).isEmpty()) {
        const QString why = notOurs(st);
        ::close(fd);
        return fail(Leftover::NotOurs, why.isEmpty() ? ErrnoText(errno) : why);
    }
    if (!Claim(fd)) {
        ::close(fd);
        return fail(Leftover::Later,
                    QStringLiteral("another copy of the program is still writing it"));
    }
    *state = Leftover::Open;
    return std::unique_ptr<ClipFile>(new ClipFile(path, fd));
}

bool ClipFile::Sync(QString* why) const {
    if (::fsync(fd_) != 0) {
        if (why) *why = ErrnoText(errno);
        return false;
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path_).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Some file systems (FUSE, network shares) cannot sync a folder; the
    // file itself is what matters most.
    if (dir < 0) return true;
    const bool ok = ::fsync(dir) == 0 || errno == EINVAL || errno == EROFS;
    const int err = errno;
    ::close(dir);
    if (!ok && why) *why = ErrnoText(err);
    return ok;
}

long long ClipFile::Size() const {
    struct stat st = {};
    return ::fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

bool ClipFile::StillInPlace(QString* why) const {
    struct stat mine = {};
    struct stat named = {};
    if (::fstat(fd_, &mine) != 0 || mine.st_nlink == 0) {
        if (why) *why = QStringLiteral("the clip's file was removed while recording");
        return false;
    }
    if (::lstat(QFile::encodeName(path_).constData(), &named) != 0) {
        if (why)
            *why = QStringLiteral(
                "the clip's file is no longer at its path: it was moved away (with its folder "
                "or alone) while recording");
        return false;
    }
    if (mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
        if (why) *why = QStringLiteral("the clip's file was replaced while recording");
        return false;
    }
    return true;
}

bool ClipFile::Moved() const {
    struct stat mine = {};
    struct stat named = {};
    return ::fstat(fd_, &mine) == 0 && mine.st_nlink > 0 &&
           ::lstat(QFile::encodeName(path_).constData(), &named) != 0;
}

void ClipFile::Remove() {
    if (StillInPlace(nullptr)) ::unlink(QFile::encodeName(path_).constData());
}

}  // namespace camwarden::store
