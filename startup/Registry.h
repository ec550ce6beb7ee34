#pragma once

#include <QString>
#include <cstdint>
#include <variant>

namespace camwarden {

// Root keys, value types, access mask and result codes as the registry
// knows them.
inline constexpr std::uint32_t HkeyCurrentUser = 0x80000001;
inline constexpr std::uint32_t HkeyLocalMachine = 0x80000002;
inline constexpr std::uint32_t RegSz = 1;
inline constexpr std::uint32_t RegDword = 4;
inline constexpr std::uint32_t KeyAccess = 63;
// Added to an access mask: the key as 32-bit programs see it on 64-bit Windows.
inline constexpr std::uint32_t KeyWow64_32Key = 0x0200;

inline constexpr std::int32_t ErrorSuccess = 0;
inline constexpr std::int32_t ErrorFileNotFound = 2;
inline constexpr std::int32_t ErrorAccessDenied = 5;
inline constexpr std::int32_t ErrorInvalidHandle = 6;
inline constexpr std::int32_t ErrorWriteFault = 29;
inline constexpr std::int32_t ErrorInvalidParameter = 87;

// The data of one value: text for REG_SZ, a number for REG_DWORD.
using RegistryData = std::variant<QString, std::int32_t>;

// The part of the registry the startup entry needs: open a key, set or
// delete a value on it, close it. Every call returns a result code,
// ErrorSuccess when it worked.
class Registry {
public:
    using Handle = std::uint32_t;

    virtual ~Registry() = default;

    virtual std::int32_t RegOpenKeyEx(std::uint32_t root, const QString& subKey,
                                      std::uint32_t options, std::uint32_t access,
                                      Handle& result) = 0;
    virtual std::int32_t RegSetValueEx(Handle key, const QString& valueName, std::uint32_t type,
                                       const RegistryData& data) = 0;
    virtual std::int32_t RegDeleteValue(Handle key, const QString& valueName) = 0;
    virtual std::int32_t RegCloseKey(Handle key) = 0;
};

}  // namespace camwarden
