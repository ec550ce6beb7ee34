#include "platform/Os.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <vector>

namespace camwarden::os {
namespace {

// The account's security identifier: unlike the name it is never reused by
// another account, and a domain user and a local one of the same name differ.
QString UserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    QString sid;
    LPWSTR text = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = QString::fromWCharArray(text);
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

}  // namespace

QString UserId() {
    const QString sid = UserSid();
    return sid.isEmpty() ? qEnvironmentVariable("USERNAME") : sid;
}

QString SettingsFile(const QString& /*application*/) {
    return {};
}

QString SettingsKey(const QString& application) {
    // Where the settings have always lived, so values stored there by an
    // earlier version are read as they are.
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") +
           application;
}

InstanceNames DefaultInstanceNames() {
    // One user may be logged on in several sessions (fast user switching,
    // remote desktop), each with its own desktop and tray; and pipe names
    // are the whole machine's, so they carry the user too.
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const QString name = QStringLiteral("camwarden-%1-%2").arg(UserId()).arg(session);
    return {StateFolder() + QLatin1Char('/') + name + QStringLiteral(".lock"), name};
}

void LetRunningCopyComeForward(qintptr connection) {
    // Only the foreground program (this one, just started by the user) may
    // pass the foreground on; Windows refuses a background window's raise.
    ULONG server = 0;
    // Qt hands out the pipe's handle as an integer.
    auto* pipe = reinterpret_cast<HANDLE>(connection);  // NOLINT(performance-no-int-to-ptr)
    if (GetNamedPipeServerProcessId(pipe, &server)) AllowSetForegroundWindow(server);
}

}  // namespace camwarden::os
