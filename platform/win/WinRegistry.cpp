#include "platform/win/WinRegistry.h"

#include <windows.h>
// See the header.
#undef RegOpenKeyEx
#undef RegSetValueEx
#undef RegDeleteValue

namespace camwarden {
namespace {

HKEY RootKey(std::uint32_t root) {
    switch (root) {
        case HkeyCurrentUser:
            return HKEY_CURRENT_USER;
        case HkeyLocalMachine:
            return HKEY_LOCAL_MACHINE;
        default:
            return nullptr;
    }
}

std::wstring Wide(const QString& text) {
    return text.toStdWString();
}

}  // namespace

WinRegistry::~WinRegistry() {
    for (const auto& [handle, key] : open_) ::RegCloseKey(static_cast<HKEY>(key));
}

std::int32_t WinRegistry::RegOpenKeyEx(std::uint32_t root, const QString& subKey,
                                       std::uint32_t options, std::uint32_t access,
                                       Handle& result) {
    result = 0;
    HKEY rootKey = RootKey(root);
    if (!rootKey) return ErrorInvalidHandle;
    // Names its key with a trailing backslash, which the registry does not take.
    QString name = subKey;
    while (name.endsWith(QLatin1Char('\\'))) name.chop(1);
    HKEY key = nullptr;
    LONG rc = ::RegOpenKeyExW(rootKey, Wide(name).c_str(), options, access, &key);
    // A profile no program has registered in yet may lack the user's Run
    // key; whoever asks to set values in it gets it made.
    if (rc == ERROR_FILE_NOT_FOUND && root == HkeyCurrentUser && (access & KEY_SET_VALUE)) {
        rc = ::RegCreateKeyExW(rootKey, Wide(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               access, nullptr, &key, nullptr);
    }
    if (rc != ERROR_SUCCESS) return rc;
    result = next_++;
    open_[result] = key;
    return ErrorSuccess;
}

std::int32_t WinRegistry::RegSetValueEx(Handle key, const QString& valueName, std::uint32_t type,
                                        const RegistryData& data) {
    const auto it = open_.find(key);
    if (it == open_.end()) return ErrorInvalidHandle;
    auto* hkey = static_cast<HKEY>(it->second);
    const std::wstring name = Wide(valueName);
    if (type == RegSz) {
        const auto* text = std::get_if<QString>(&data);
        if (!text) return ErrorInvalidParameter;
        // Unicode, with its terminating zero, as the registry wants a string.
        const std::wstring value = Wide(*text);
        return ::RegSetValueExW(hkey, name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    if (type == RegDword) {
        const auto* number = std::get_if<std::int32_t>(&data);
        if (!number) return ErrorInvalidParameter;
        const DWORD value = static_cast<DWORD>(*number);
        return ::RegSetValueExW(hkey, name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    return ErrorInvalidParameter;
}

std::int32_t WinRegistry::RegDeleteValue(Handle key, const QString& valueName) {
    const auto it = open_.find(key);
    if (it == open_.end()) return ErrorInvalidHandle;
    return ::RegDeleteValueW(static_cast<HKEY>(it->second), Wide(valueName).c_str());
}

std::int32_t WinRegistry::RegCloseKey(Handle key) {
    const auto it = open_.find(key);
    if (it == open_.end()) return ErrorInvalidHandle;
    const LONG rc = ::RegCloseKey(static_cast<HKEY>(it->second));
    open_.erase(it);
    return rc;
}

}  // namespace camwarden
