#include "storage/System.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <QDir>

namespace camwarden::store::sys {
namespace {

QString KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    QString folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        folder = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    CoTaskMemFree(path);
    return folder;
}

}  // namespace

QString StateFolder() {
    // %LOCALAPPDATA% as the user's environment has it, which is where the
    // README sends people looking.
    QString local = qEnvironmentVariable("LOCALAPPDATA");
    if (local.isEmpty() || QDir::isRelativePath(local)) local = KnownFolder(FOLDERID_LocalAppData);
    return QDir::fromNativeSeparators(local) + QStringLiteral("/Quillory/Camwarden");
}

int64_t SinceBootMs() {
    // Counts on through sleep and hibernation, unlike the unbiased clocks.
    return static_cast<int64_t>(GetTickCount64());
}

QString BootId() {
    // Windows counts its boots here (Windows 8 and later); without it the
    // boot clock is never compared across a restart by mistake.
    DWORD count = 0;
    DWORD size = sizeof count;
    if (RegGetValueW(HKEY_LOCAL_MACHINE,
                     L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory "
                     L"Management\\PrefetchParameters",
                     L"BootId", RRF_RT_REG_DWORD, nullptr, &count, &size) != ERROR_SUCCESS)
        return {};
    return QString::number(count);
}

}  // namespace camwarden::store::sys
