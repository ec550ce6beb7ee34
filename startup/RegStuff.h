#pragma once

#include <QString>
#include <QVariant>
#include <cstdint>

#include "startup/Registry.h"

namespace camwarden::RegStuff {

// The key whose values the session starts at log-on.
inline constexpr auto RunSubKey = "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN\\";

// The quoted full path that the Run value holds: the folder, a separator
// only if it has none at its end, and the file name.
QString RunValueData(const QString& ProgramFolder, const QString& ExeName);

// Writes the Run value named ExeName under the current user's key, which
// every user may write; returns the registry's result code.
std::int32_t SetRunValue(Registry& registry, const QString& ProgramFolder, const QString& ExeName);
// Deletes it there, and a value of that name under the machine's key where
// the rights allow (an earlier version wrote it there). The result is the
// current user's, unless only the machine's value was there to go.
std::int32_t DeleteRunValue(Registry& registry, const QString& ExeName);

// Open, set, close. Returns the first failing call's code, else the set's.
std::int32_t WriteRegistryValue(Registry& registry, std::uint32_t Root, const QString& SubKey,
                                const QString& ValueName, const QVariant& Value,
                                std::uint32_t ValueType);

// REG_SZ and REG_DWORD only; any other type writes nothing and gives 0.
// A REG_DWORD that is not a number throws "Type mismatch", one out of
// 32-bit range "Overflow".
std::int32_t SetRegistryValue(Registry& registry, Registry::Handle KeyHandle,
                              const QString& ValueName, std::uint32_t ValueType,
                              const QVariant& Value);

std::int32_t DeleteRegistryValue(Registry& registry, std::uint32_t Root, const QString& SubKey,
                                 const QString& ValueName, std::uint32_t Access = KeyAccess);

}  // namespace camwarden::RegStuff
