#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

#include "platform/posix/PosixText.h"
#include "storage/System.h"

namespace camwarden::store::sys {
namespace {

using posix::ErrnoText;

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

int CreateAside(const QString& path, QString* aside, QString* why) {
    QByteArray name = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        *why = ErrnoText(errno);
    else
        *aside = QFile::decodeName(name);
    return fd;
}

bool Rename(const QString& from, const QString& to, QString* why) {
    const QByteArray name = QFile::encodeName(to);
    if (::rename(QFile::encodeName(from).constData(), name.constData()) != 0) {
        *why = ErrnoText(errno);
        return false;
    }
    SyncFolder(name);
    return true;
}

int OpenState(const QString& path, Use use, Refusal* refusal, QString* why) {
    const int flags = use == Use::Read ? O_RDONLY : O_WRONLY | O_APPEND | O_CREAT;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        *refusal = err == ELOOP ? Refusal::Link : err == ENOENT ? Refusal::Missing : Refusal::Other;
        *why = ErrnoText(err);
    }
    return fd;
}

long long ReadSome(int fd, char* into, long long size, QString* why) {
    for (;;) {
        const ssize_t n = ::read(fd, into, size_t(size));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && why) *why = ErrnoText(errno);
        return n;
    }
}

bool AppendAll(int fd, const QByteArray& bytes, QString* why) {
    const bool written = WriteAll(fd, bytes) && ::fdatasync(fd) == 0;
    if (!written && why) *why = ErrnoText(errno);
    return written;
}

bool IsAsideOf(const QString& fileName, const QString& name) {
    // As mkostemp names them: the name, a dot and six letters or digits.
    constexpr qsizetype kRandom = 6;
    const QString base = fileName + QLatin1Char('.');
    return name.size() == base.size() + kRandom && name.startsWith(base) &&
           std::all_of(name.end() - kRandom, name.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                      (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
           });
}

void RemoveName(const QString& path) {
    ::unlink(QFile::encodeName(path).constData());
}

}  // namespace camwarden::store::sys
