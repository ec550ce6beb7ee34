#pragma once

#include <windows.h>

#include <vector>

namespace camwarden::win {

// One piece of the running copy's own token (TokenUser, TokenOwner...);
// empty when it cannot be read.
inline std::vector<BYTE> OwnTokenPart(TOKEN_INFORMATION_CLASS part) {
    std::vector<BYTE> bytes;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return bytes;
    DWORD size = 0;
    GetTokenInformation(token, part, nullptr, 0, &size);
    bytes.resize(size);
    if (size == 0 || !GetTokenInformation(token, part, bytes.data(), size, &size)) bytes.clear();
    CloseHandle(token);
    return bytes;
}

}  // namespace camwarden::win
