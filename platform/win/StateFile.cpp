#include "storage/StateFile.h"

#include <windows.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "platform/win/WinText.h"

namespace camwarden::store {
namespace {

// What is at the name, without following a link planted there.
DWORD AttributesAt(const std::wstring& name) {
    return GetFileAttributesW(name.c_str());
}

bool IsPlain(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes &
             (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

QString NotPlainWhy(DWORD attributes) {
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? QStringLiteral("it is a link")
                                                     : QStringLiteral("it is not a plain file");
}

// A plain file at the name, opened for `access`; INVALID_HANDLE_VALUE with
// *why (and the error left in GetLastError) otherwise. The name is opened
// as itself, never as what a link there points to.
HANDLE OpenPlain(const std::wstring& name, DWORD access, DWORD disposition, QString* why) {
    HANDLE file = CreateFileW(name.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (why) *why = win::ErrorText(err);
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        !IsPlain(info.dwFileAttributes)) {
        if (why) *why = NotPlainWhy(info.dwFileAttributes);
        CloseHandle(file);
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool WriteAll(HANDLE file, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        DWORD n = 0;
        if (!WriteFile(file, bytes.constData() + done, static_cast<DWORD>(bytes.size() - done), &n,
                       nullptr) ||
            n == 0)
            return false;
        done += n;
    }
    return true;
}

}  // namespace

std::optional<QByteArray> ReadStateFile(const QString& path, qint64 maxBytes, QString* why) {
    const std::wstring name = win::Native(path);
    HANDLE file = OpenPlain(name, GENERIC_READ, OPEN_EXISTING, why);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return QByteArray();
        return std::nullopt;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > maxBytes) {
        if (why) *why = QStringLiteral("it is larger than any the program writes");
        CloseHandle(file);
        return std::nullopt;
    }
    QByteArray bytes(static_cast<qsizetype>(size.QuadPart), Qt::Uninitialized);
    DWORD read = 0;
    const bool ok = bytes.isEmpty() ||
                    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    if (!ok && why) *why = win::ErrorText(GetLastError());
    CloseHandle(file);
    if (!ok) return std::nullopt;
    bytes.truncate(read);
    return bytes;
}

bool ReplaceStateFile(const QString& path, const QByteArray& bytes, QString* why,
                      QString* replaced) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::wstring name = win::Native(path);
    const std::wstring aside =
        win::Native(path + QStringLiteral(".%1.new").arg(GetCurrentProcessId()));
    HANDLE file = CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (why) *why = win::ErrorText(GetLastError());
        return false;
    }
    const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
    const DWORD err = GetLastError();
    CloseHandle(file);
    const DWORD there = AttributesAt(name);
    if (written && there != INVALID_FILE_ATTRIBUTES && !IsPlain(there) && replaced)
        *replaced = there & FILE_ATTRIBUTE_REPARSE_POINT ? QStringLiteral("a link")
                                                         : QStringLiteral("not a plain file");
    // Renaming over the name replaces whatever is there itself, a link included.
    if (!written || !MoveFileExW(aside.c_str(), name.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (why) *why = win::ErrorText(written ? GetLastError() : err);
        DeleteFileW(aside.c_str());
        return false;
    }
    return true;
}

bool AppendStateFile(const QString& path, const QByteArray& bytes, QString* why) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    HANDLE file = OpenPlain(win::Native(path), FILE_APPEND_DATA, OPEN_ALWAYS, why);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
    if (!written && why) *why = win::ErrorText(GetLastError());
    CloseHandle(file);
    return written;
}

void RemoveLeftAsides(const QString& path) {
    const QFileInfo info(path);
    // As ReplaceStateFile names them: the name, the writer's process id, ".new".
    const QString base = info.fileName() + QLatin1Char('.');
    const QString suffix = QStringLiteral(".new");
    const QStringList names =
        QDir(info.absolutePath())
            .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (name.size() <= base.size() + suffix.size() ||
            !name.startsWith(base, Qt::CaseInsensitive) ||
            !name.endsWith(suffix, Qt::CaseInsensitive))
            continue;
        const QStringView id =
            QStringView(name).mid(base.size(), name.size() - base.size() - suffix.size());
        if (!std::all_of(id.begin(), id.end(),
                         [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }))
            continue;
        const std::wstring aside = win::Native(info.absolutePath() + QLatin1Char('/') + name);
        if (IsPlain(AttributesAt(aside))) DeleteFileW(aside.c_str());
    }
}

void RemoveStateFile(const QString& path) {
    // A link at the name goes itself; what it points to stays.
    DeleteFileW(win::Native(path).c_str());
}

}  // namespace camwarden::store
