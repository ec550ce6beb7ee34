#pragma once

#include <QString>

// What the program asks of the operating system; the build links the
// platform's answer (platform/posix on Linux).
namespace camwarden::os {

// The user running this copy, as text fit for a file name: copies of
// different users sharing a folder name their files with it.
QString UserId();

// The file the settings of `application` are kept in, looked up afresh on
// each call; empty where the system keeps settings in a store of its own.
QString SettingsFile(const QString& application);

}  // namespace camwarden::os
