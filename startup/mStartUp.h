#pragma once

#include <QString>

#include "startup/Registry.h"

namespace camwarden::mStartUp {

// Registers `executablePath` (the running program's own file, e.g.
// QCoreApplication::applicationFilePath()) to start at log-on. Returns
// false when nothing could be written, so the caller can tell the user.
bool AddStartupEntry(Registry& registry, const QString& executablePath);

// Removes that registration. Returns false only when an existing entry
// could not be removed; no entry at all counts as removed.
bool RemoveStartupEntry(Registry& registry, const QString& executablePath);

}  // namespace camwarden::mStartUp
