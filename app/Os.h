#pragma once

#include <QString>
#include <cstdint>

// What the program asks of the operating system; the build links the
// platform's answer (platform/posix on Linux).
namespace camwarden::os {

// The user running this copy, as text fit for a file name: copies of
// different users sharing a folder name their files with it.
QString UserId();

// The file the settings of `application` are kept in, looked up afresh on
// each call; empty where the system keeps settings in a store of its own.
QString SettingsFile(const QString& application);

// Milliseconds since the machine started, a suspend included: a clock that
// no one sets and that does not stop while the program is stopped.
int64_t SinceBootMs();

// What tells this boot from every other, as text; empty where the system
// names none. Boot clock readings compare only within one boot.
QString BootId();

}  // namespace camwarden::os
