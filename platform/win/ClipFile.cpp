#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <vector>

#include "platform/win/WinText.h"
#include "platform/win/WinToken.h"
#include "storage/System.h"

namespace camwarden::store::sys {
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

Found FromAttributes(DWORD attributes) {
    Found found;
    found.there = true;
    found.link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    found.plain = !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    return found;
}

// Whether the file's owner is the account running this copy, or the owner
// this copy gives the files it makes: run elevated by an administrator,
// that is the Administrators group, and its own files must still count.
bool OwnedByUser(HANDLE file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::vector<BYTE> user = win::OwnTokenPart(TokenUser);
    const std::vector<BYTE> made = win::OwnTokenPart(TokenOwner);
    const bool mine =
        (!user.empty() &&
         EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
        (!made.empty() &&
         EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(made.data())->Owner));
    LocalFree(descriptor);
    return mine;
}

// Links to the file: none once it was deleted, though still open here.
DWORD LinksOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileInformationByHandle(file, &info) ? info.nNumberOfLinks : 0;
}

}  // namespace

int CreateNew(const QString& name, bool* taken, QString* why) {
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

void Close(int fd) {
    _close(fd);
}

long long SizeOf(int fd) {
    LARGE_INTEGER size = {};
    return GetFileSizeEx(HandleOf(fd), &size) ? size.QuadPart : 0;
}

bool Flush(int fd, const QString& /*path*/, QString* why) {
    // NTFS journals the folder's entry itself; the file's data is what
    // a power cut could still take.
    if (!FlushFileBuffers(HandleOf(fd))) {
        if (why) *why = ErrorText(GetLastError());
        return false;
    }
    return true;
}

Place PlaceOf(int fd, const QString& path) {
    // Opened for nothing but its identity, which any sharing mode allows.
    HANDLE named =
        CreateFileW(Native(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return LinksOf(HandleOf(fd)) == 0 ? Place::Removed : Place::Moved;
    const bool same = SameFile(HandleOf(fd), named);
    CloseHandle(named);
    return same ? Place::Same : Place::Replaced;
}

void RemoveHeld(int* fd, const QString& path) {
    if (*fd < 0) return;
    // Held without sharing deletion, the file could not be removed or
    // renamed meanwhile: its name still means it.
    _close(*fd);
    *fd = -1;
    DeleteFileW(Native(path).c_str());
}

Found At(const QString& path) {
    const DWORD attributes = GetFileAttributesW(Native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = GetLastError();
        Found found;
        found.missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        found.error = ErrorText(err);
        return found;
    }
    Found found = FromAttributes(attributes);
    // Whose it is shows only on what is opened (Of).
    found.mine = true;
    return found;
}

Found Of(int fd) {
    HANDLE file = HandleOf(fd);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) {
        Found found;
        found.there = true;  // but no plain file
        return found;
    }
    Found found = FromAttributes(info.dwFileAttributes);
    found.mine = !found.link && found.plain && OwnedByUser(file);
    return found;
}

bool IsFolder(const QString& path) {
    const DWORD attributes = GetFileAttributesW(Native(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int OpenExisting(const QString& path, Refusal* refusal, QString* why) {
    HANDLE file = CreateFileW(Native(path).c_str(), kAccess, kShared, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        *refusal = err == ERROR_SHARING_VIOLATION ? Refusal::Busy
                   : err == ERROR_ACCESS_DENIED   ? Refusal::Denied
                                                  : Refusal::Other;
        *why = ErrorText(err);
        return -1;
    }
    const int fd = Descriptor(file);
    if (fd < 0) {
        *refusal = Refusal::Other;
        *why = QStringLiteral("it cannot be opened for writing");
    }
    return fd;
}

bool Claim(int /*fd*/) {
    // The sharing mode it was opened with is the claim.
    return true;
}

}  // namespace camwarden::store::sys
