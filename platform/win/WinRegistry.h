#pragma once

#include <map>

#include "startup/Registry.h"

// The port's methods carry the registry's own names, which windows.h makes
// macros of: a file that includes both includes this first, and undefines
// them after windows.h.

namespace camwarden {

// The registry itself, through advapi32's wide-character calls, for the
// start-at-log-on value. Handles given out are this object's own numbers
// for the keys it holds open; whatever is left open goes with it.
class WinRegistry final : public Registry {
public:
    WinRegistry() = default;
    ~WinRegistry() override;
    WinRegistry(const WinRegistry&) = delete;
    WinRegistry& operator=(const WinRegistry&) = delete;

    std::int32_t RegOpenKeyEx(std::uint32_t root, const QString& subKey, std::uint32_t options,
                              std::uint32_t access, Handle& result) override;
    std::int32_t RegSetValueEx(Handle key, const QString& valueName, std::uint32_t type,
                               const RegistryData& data) override;
    std::int32_t RegDeleteValue(Handle key, const QString& valueName) override;
    std::int32_t RegCloseKey(Handle key) override;

private:
    Handle next_ = 1;
    std::map<Handle, void*> open_;  // HKEYs
};

}  // namespace camwarden
