#include "storage/StateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>

#include "storage/NotOurs.h"
#include "storage/System.h"

namespace camwarden::store {
namespace {

// A plain file of the user's, open for `use`; else -1 with *why, and
// *missing when nothing is at the name.
int OpenPlain(const QString& path, sys::Use use, bool* missing, QString* why) {
    sys::Refusal refusal = sys::Refusal::Other;
    QString error;
    const int fd = sys::OpenState(path, use, &refusal, &error);
    if (fd < 0) {
        *missing = refusal == sys::Refusal::Missing;
        if (why) *why = refusal == sys::Refusal::Link ? QStringLiteral("it is a link") : error;
        return -1;
    }
    const sys::Found found = sys::Of(fd);
    const QString notOurs = found.there ? NotOurs(found) : QStringLiteral("it is not a plain file");
    if (!notOurs.isEmpty()) {
        if (why) *why = notOurs;
        sys::Close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool ReplaceStateFile(const QString& path, const QByteArray& bytes, QString* why,
                      QString* replaced) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString aside;
    QString error;
    const int fd = sys::CreateAside(path, &aside, &error);
    bool written = fd >= 0 && sys::AppendAll(fd, bytes, &error);
    if (fd >= 0) sys::Close(fd);
    const sys::Found there = sys::At(path);
    if (written && there.there && (there.link || !there.plain) && replaced) {
        const QString target = there.link ? QFile::symLinkTarget(path) : QString();
        *replaced = !there.link        ? QStringLiteral("not a plain file")
                    : target.isEmpty() ? QStringLiteral("a link")
                                       : QStringLiteral("a link to %1").arg(target);
    }
    // The rename replaces whatever is at the name itself, a link included.
    written = written && sys::Rename(aside, path, &error);
    if (!written) {
        if (fd >= 0) sys::RemoveName(aside);
        if (why) *why = error;
    }
    return written;
}

std::optional<QByteArray> ReadStateFile(const QString& path, qint64 maxBytes, QString* why) {
    bool missing = false;
    const int fd = OpenPlain(path, sys::Use::Read, &missing, why);
    if (fd < 0) {
        if (missing) return QByteArray();
        return std::nullopt;
    }
    QByteArray bytes;
    std::array<char, 65536> buffer{};
    for (long long n = 0;
         (n = sys::ReadSome(fd, buffer.data(), static_cast<long long>(buffer.size()), why)) != 0;) {
        if (n < 0 || bytes.size() + n > maxBytes) {
            if (n >= 0 && why) *why = QStringLiteral("it is larger than any the program writes");
            sys::Close(fd);
            return std::nullopt;
        }
        bytes.append(buffer.data(), qsizetype(n));
    }
    sys::Close(fd);
    return bytes;
}

bool AppendStateFile(const QString& path, const QByteArray& bytes, QString* why) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    bool missing = false;
    const int fd = OpenPlain(path, sys::Use::Append, &missing, why);
    if (fd < 0) return false;
    const bool written = sys::AppendAll(fd, bytes, why);
    sys::Close(fd);
    return written;
}

void RemoveLeftAsides(const QString& path) {
    const QFileInfo info(path);
    const QDir folder(info.absolutePath());
    const QStringList names =
        folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (!sys::IsAsideOf(info.fileName(), name)) continue;
        // Only what the rewrite itself could have left: a plain file of the user's.
        const QString aside = folder.filePath(name);
        const sys::Found found = sys::At(aside);
        if (found.there && NotOurs(found).isEmpty()) sys::RemoveName(aside);
    }
}

void RemoveStateFile(const QString& path) {
    sys::RemoveName(path);
}

}  // namespace camwarden::store
