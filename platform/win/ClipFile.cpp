#include "storage/ClipFile.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <QDir>
#include <QFileInfo>
#include <vector>

#include "platform/win/WinText.h"

namespace camwarden::store {
namespace {

using win::ErrorText;
using win::Native;

HANDLE HandleOf(int fd) {
    // The C runtime hands out the handle as an integer.
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
}

// The sharing mode is the clip's claim: while a copy of the program holds
// the file, others may read it (a player, a backup) but not open it for
// writing, so the next run repairs only what nobody still writes; nor can
// it be deleted or renamed under the recording.
constexpr DWORD kShared = FILE_SHARE_READ;
constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;

// The C runtime's descriptor for the handle, which the sink writes through;
// it owns the handle from here on.
int Descriptor(HANDLE file) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
    if (fd < 0) CloseHandle(file);
    return fd;
}

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION ia = {};
    BY_HANDLE_FILE_INFORMATION ib = {};
    return GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// Why a file with these attributes is none of the program's clips; empty
// when it may be one.
QString NotOurs(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return QStringLiteral("it is a link");
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return QStringLiteral("it is not a plain file");
    return {};
}

// Whether the file's owner is the account running this copy.
bool OwnedByUser(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool mine = false;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> user(size);
        if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size))
            mine = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return mine;
}

// Links to the file: none once it was deleted, though still open here.
DWORD LinksOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileInformationByHandle(file, &info) ? info.nNumberOfLinks : 0;
}

}  // namespace

ClipFile::ClipFile(QString path, int fd) : path_(std::move(path)), fd_(fd) {}

ClipFile::~ClipFile() {
    if (fd_ >= 0) _close(fd_);
}

int ClipFile::CreateNew(const QString& name, bool* taken, QString* why) {
    // CREATE_NEW fails on any existing name, a link included.
    HANDLE file = CreateFileW(Native(name).c_str(), kAccess, kShared, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        *taken = err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS;
        *why = QStringLiteral("%1 cannot be created: %2").arg(name, ErrorText(err));
        return -1;
    }
    const int fd = Descriptor(file);
    if (fd < 0) *why = QStringLiteral("%1 cannot be opened for writing").arg(name);
    return fd;
}

std::unique_ptr<ClipFile> ClipFile::OpenLeftover(const QString& path, Leftover* state,
                                                 QString* error) {
    const auto fail = [&](Leftover what, const QString& why) {
        *state = what;
        if (error) *error = why;
        return nullptr;
    };
    // Looked at before it is opened: opening a device or a pipe may do something.
    const DWORD attributes = GetFileAttributesW(Native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = GetLastError();
        const DWORD folder = GetFileAttributesW(Native(QFileInfo(path).absolutePath()).c_str());
        const bool folderThere =
            folder != INVALID_FILE_ATTRIBUTES && (folder & FILE_ATTRIBUTE_DIRECTORY);
        const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        if (missing && folderThere) return fail(Leftover::Gone, ErrorText(err));
        return fail(missing ? Leftover::Later : Leftover::NotOurs,
                    folderThere ? ErrorText(err) : QStringLiteral("its folder is not there"));
    }
    if (const QString why = NotOurs(attributes); !why.isEmpty())
        return fail(Leftover::NotOurs, why);
    HANDLE file = CreateFileW(Native(path).c_str(), kAccess, kShared, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_SHARING_VIOLATION)
            return fail(Leftover::Later,
                        QStringLiteral("another copy of the program is still writing it"));
        return fail(err == ERROR_ACCESS_DENIED ? Leftover::NotOurs : Leftover::Later,
                    ErrorText(err));
    }
    // The same checks on what was opened: the name may have changed since.
    BY_HANDLE_FILE_INFORMATION info = {};
    QString why = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info)
                      ? NotOurs(info.dwFileAttributes)
                      : QStringLiteral("it is not a plain file");
    if (why.isEmpty() && !OwnedByUser(file)) why = QStringLiteral("it belongs to another user");
    if (!why.isEmpty()) {
        CloseHandle(file);
        return fail(Leftover::NotOurs, why);
    }
    const int fd = Descriptor(file);
    if (fd < 0) return fail(Leftover::Later, QStringLiteral("it cannot be opened for writing"));
    *state = Leftover::Open;
    return std::unique_ptr<ClipFile>(new ClipFile(path, fd));
}

bool ClipFile::Sync(QString* why) const {
    // NTFS journals the folder's entry itself; the file's data is what
    // a power cut could still take.
    if (!FlushFileBuffers(HandleOf(fd_))) {
        if (why) *why = ErrorText(GetLastError());
        return false;
    }
    return true;
}

long long ClipFile::Size() const {
    LARGE_INTEGER size = {};
    return GetFileSizeEx(HandleOf(fd_), &size) ? size.QuadPart : 0;
}

bool ClipFile::StillInPlace(QString* why) const {
    // Opened for nothing but its identity, which any sharing mode allows.
    HANDLE named = CreateFileW(Native(path_).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        if (why)
            *why = LinksOf(HandleOf(fd_)) == 0
                       ? QStringLiteral("the clip's file was removed while recording")
                       : QStringLiteral(
                             "the clip's file is no longer at its path: it was moved away (with "
                             "its folder or alone) while recording");
        return false;
    }
    const bool same = SameFile(HandleOf(fd_), named);
    CloseHandle(named);
    if (!same && why) *why = QStringLiteral("the clip's file was replaced while recording");
    return same;
}

bool ClipFile::Moved() const {
    if (LinksOf(HandleOf(fd_)) == 0) return false;
    return GetFileAttributesW(Native(path_).c_str()) == INVALID_FILE_ATTRIBUTES;
}

void ClipFile::Remove() {
    if (fd_ < 0) return;
    // Held without sharing deletion, the file could not be removed or
    // renamed meanwhile: its name still means it.
    _close(fd_);
    fd_ = -1;
    DeleteFileW(Native(path_).c_str());
}

}  // namespace camwarden::store
