#pragma once

#include "app/Clock.h"
#include "app/Dialogs.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "capture/CaptureWindow.h"
#include "startup/Registry.h"
#include "tray/TrayShell.h"

#include <QString>
#include <memory>

namespace camwarden {

// Every service the window reaches outside itself, built once in main (or
// by a test) and handed to the window.
struct Platform {
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<Dialogs> dialogs;
    std::unique_ptr<CaptureSystem> capture;
    std::unique_ptr<ShellFolders> shell;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<TrayShell> tray;
    std::unique_ptr<Registry> registry;
    QString programFolder;   // where the optional pointer and skin files live
    QString dataFolder;      // their installed copies, used where the program folder has none
    QString executablePath;  // what a log-on entry starts
    // False where the desktop never tells a window it was minimised (Wayland).
    bool minimiseSeen = true;
};

}  // namespace camwarden
