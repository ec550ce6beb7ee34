#include "platform/Os.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <vector>

#include "platform/win/WinToken.h"

namespace camwarden::os {
namespace {

// The account's security identifier: unlike the name it is never reused by
// another account, and a domain user and a local one of the same name differ.
QString UserSid() {
    const std::vector<BYTE> user = win::OwnTokenPart(TokenUser);
    QString sid;
    LPWSTR text = nullptr;
    if (!user.empty() &&
        ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text)) {
        sid = QString::fromWCharArray(text);
        LocalFree(text);
    }
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
