#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

#include "storage/System.h"

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

// The program's state folder and the boot clock are the store's to ask for
// (storage/System.h); the window and main() use the same answers.
using store::sys::StateFolder;

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

using store::sys::BootId;
using store::sys::SinceBootMs;

}  // namespace camwarden::os
