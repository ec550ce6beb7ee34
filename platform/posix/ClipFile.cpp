#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "platform/posix/PosixText.h"
#include "storage/System.h"

namespace camwarden::store::sys {
namespace {

using posix::ErrnoText;

Found FromStat(const struct stat& st) {
    Found found;
    found.there = true;
    found.link = S_ISLNK(st.st_mode);
    found.plain = S_ISREG(st.st_mode);
    found.mine = st.st_uid == ::geteuid();
    return found;
}

Found Failed(int err) {
    Found found;
    found.missing = err == ENOENT || err == ENOTDIR;
    found.error = ErrnoText(err);
    return found;
}

}  // namespace

int CreateNew(const QString& name, bool* taken, QString* why) {
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

void Close(int fd) {
    ::close(fd);
}

long long SizeOf(int fd) {
    struct stat st = {};
    return ::fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

bool Flush(int fd, const QString& path, QString* why) {
    if (::fsync(fd) != 0) {
        if (why) *why = ErrnoText(errno);
        return false;
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
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

Place PlaceOf(int fd, const QString& path) {
    struct stat mine = {};
    struct stat named = {};
    if (::fstat(fd, &mine) != 0 || mine.st_nlink == 0) return Place::Removed;
    if (::lstat(QFile::encodeName(path).constData(), &named) != 0) return Place::Moved;
    if (mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) return Place::Replaced;
    return Place::Same;
}

void RemoveHeld(int* fd, const QString& path) {
    if (PlaceOf(*fd, path) == Place::Same) ::unlink(QFile::encodeName(path).constData());
}

Found At(const QString& path) {
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return Failed(errno);
    return FromStat(st);
}

Found Of(int fd) {
    struct stat st = {};
    if (::fstat(fd, &st) != 0) return Failed(errno);
    return FromStat(st);
}

bool IsFolder(const QString& path) {
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

int OpenExisting(const QString& path, Refusal* refusal, QString* why) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        *refusal = err == ELOOP || err == EACCES || err == EPERM ? Refusal::Denied : Refusal::Other;
        *why = ErrnoText(err);
    }
    return fd;
}

// Held for as long as the file is open: the next run repairs a leftover only
// when no copy of the program (one that ran without the single-instance
// lock) still writes into it. A folder that cannot lock goes without.
bool Claim(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace camwarden::store::sys
