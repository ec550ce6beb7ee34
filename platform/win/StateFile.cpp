#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "platform/win/WinText.h"
#include "storage/System.h"

namespace camwarden::store::sys {
namespace {

HANDLE HandleOf(int fd) {
    // The C runtime hands out the handle as an integer.
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
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

int CreateAside(const QString& path, QString* aside, QString* why) {
    *aside = path + QStringLiteral(".%1.new").arg(GetCurrentProcessId());
    HANDLE file = CreateFileW(win::Native(*aside).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = win::ErrorText(GetLastError());
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        *why = QStringLiteral("it cannot be opened");
    }
    return fd;
}

bool Rename(const QString& from, const QString& to, QString* why) {
    if (MoveFileExW(win::Native(from).c_str(), win::Native(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *why = win::ErrorText(GetLastError());
    return false;
}

int OpenState(const QString& path, Use use, Refusal* refusal, QString* why) {
    // The name is opened as itself, never as what a link there points to;
    // with the right to read its owner, which the store checks.
    const bool read = use == Use::Read;
    const DWORD access =
        read ? GENERIC_READ : FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
    HANDLE file = CreateFileW(win::Native(path).c_str(), access, FILE_SHARE_READ, nullptr,
                              read ? OPEN_EXISTING : OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        *refusal = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? Refusal::Missing
                                                                              : Refusal::Other;
        *why = win::ErrorText(err);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file),
                                   (read ? _O_RDONLY : _O_WRONLY | _O_APPEND) | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        *refusal = Refusal::Other;
        *why = QStringLiteral("it cannot be opened");
    }
    return fd;
}

long long ReadSome(int fd, char* into, long long size, QString* why) {
    DWORD read = 0;
    if (!ReadFile(HandleOf(fd), into, static_cast<DWORD>(size), &read, nullptr)) {
        if (why) *why = win::ErrorText(GetLastError());
        return -1;
    }
    return read;
}

bool AppendAll(int fd, const QByteArray& bytes, QString* why) {
    HANDLE file = HandleOf(fd);
    const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
    if (!written && why) *why = win::ErrorText(GetLastError());
    return written;
}

bool IsAsideOf(const QString& fileName, const QString& name) {
    // As CreateAside names them: the name, the writer's process id, ".new".
    const QString base = fileName + QLatin1Char('.');
    const QString suffix = QStringLiteral(".new");
    if (name.size() <= base.size() + suffix.size() || !name.startsWith(base, Qt::CaseInsensitive) ||
        !name.endsWith(suffix, Qt::CaseInsensitive))
        return false;
    const QStringView id =
        QStringView(name).mid(base.size(), name.size() - base.size() - suffix.size());
    return std::all_of(id.begin(), id.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

void RemoveName(const QString& path) {
    DeleteFileW(win::Native(path).c_str());
}

}  // namespace camwarden::store::sys
