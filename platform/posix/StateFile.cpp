#include "storage/StateFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace camwarden::store {
namespace {

QString ErrnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// A plain file of the user's, open for `flags`, or -1 with *why.
int OpenPlain(const QByteArray& name, int flags, QString* why) {
    const int fd =
        ::open(name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        if (why) *why = err == ELOOP ? QStringLiteral("it is a link") : ErrnoText(err);
        errno = err;
        return -1;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        if (why)
            *why = S_ISREG(st.st_mode) ? QStringLiteral("it belongs to another user")
                                       : QStringLiteral("it is not a plain file");
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

void SyncFolder(const QByteArray& name) {
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(name)).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

}  // namespace

std::optional<QByteArray> ReadStateFile(const QString& path, qint64 maxBytes, QString* why) {
    const int fd = OpenPlain(QFile::encodeName(path), O_RDONLY, why);
    if (fd < 0) {
        if (errno == ENOENT) return QByteArray();
        return std::nullopt;
    }
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t n = 0; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || bytes.size() + n > maxBytes) {
            if (why)
                *why = n < 0 ? ErrnoText(errno)
                             : QStringLiteral("it is larger than any the program writes");
            ::close(fd);
            return std::nullopt;
        }
        bytes.append(buffer, n);
    }
    ::close(fd);
    return bytes;
}

bool ReplaceStateFile(const QString& path, const QByteArray& bytes, QString* why,
                      QString* replaced) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    QByteArray aside = name + ".XXXXXX";
    const int fd = ::mkostemp(aside.data(), O_CLOEXEC);
    if (fd < 0) {
        if (why) *why = ErrnoText(errno);
        return false;
    }
    const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    struct stat st = {};
    if (written && ::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode) && replaced) {
        const QString target = QFile::symLinkTarget(path);
        *replaced = S_ISLNK(st.st_mode) ? QStringLiteral("a link to %1").arg(target)
                                        : QStringLiteral("not a plain file");
    }
    // A rename replaces whatever is at the name itself, a link included.
    if (!written || ::rename(aside.constData(), name.constData()) != 0) {
        if (why) *why = ErrnoText(written ? errno : err);
        ::unlink(aside.constData());
        return false;
    }
    SyncFolder(name);
    return true;
}

bool AppendStateFile(const QString& path, const QByteArray& bytes, QString* why) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = OpenPlain(QFile::encodeName(path), O_WRONLY | O_APPEND | O_CREAT, why);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, bytes) && ::fdatasync(fd) == 0;
    if (!written && why) *why = ErrnoText(errno);
    ::close(fd);
    return written;
}

void RemoveLeftAsides(const QString& path) {
    const QFileInfo info(path);
    const QByteArray base = QFile::encodeName(info.fileName()) + '.';
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return;
    const int fd = ::dirfd(dir);
    // As mkostemp names them: the name, a dot and six letters or digits.
    constexpr size_t kRandom = 6;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() != size_t(base.size()) + kRandom || !name.starts_with(base.constData()) ||
            !std::all_of(name.end() - kRandom, name.end(), [](char c) {
                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            }))
            continue;
        struct stat st = {};
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            ::unlinkat(fd, entry->d_name, 0);
    }
    ::closedir(dir);
}

void RemoveStateFile(const QString& path) {
    ::unlink(QFile::encodeName(path).constData());
}

}  // namespace camwarden::store
