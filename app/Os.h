#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

// What the program asks of the operating system; the build links the
// platform's answer (platform/posix, platform/win).
namespace camwarden::os {

// The user running this copy, as text fit for a file name: copies of
// different users sharing a folder name their files with it.
QString UserId();

// The file the settings of `application` are kept in, looked up afresh on
// each call; empty where the system keeps settings in a store of its own.
QString SettingsFile(const QString& application);
// That store's place for `application`, as QSettings::NativeFormat names
// it; empty where settings are files.
QString SettingsKey(const QString& application);

// The folder of the program's own state: the list of clips being recorded,
// and the log where the system gives a window program no other.
QString StateFolder();

// The single-instance lock and the local server a later start asks the
// running copy through: one running copy per user (and, where a user can
// have several, per session).
struct InstanceNames {
    QString lockFile;
    QString server;
};
InstanceNames DefaultInstanceNames();
// A later start, connected to the running copy (`connection` being the
// QLocalSocket's descriptor), lets it take the foreground before asking it
// to show its window; Windows would otherwise only flash its taskbar button.
void LetRunningCopyComeForward(qintptr connection);

// Milliseconds since the machine started, a suspend included: a clock that
// no one sets and that does not stop while the program is stopped.
int64_t SinceBootMs();

// What tells this boot from every other, as text; empty where the system
// names none. Boot clock readings compare only within one boot.
QString BootId();

}  // namespace camwarden::os
