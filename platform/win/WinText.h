#pragma once

#include <windows.h>

#include <QDir>
#include <QString>
#include <string>

namespace camwarden::win {

// The system's own words for an error code.
inline QString ErrorText(DWORD error) {
    LPWSTR text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString message =
        n > 0 ? QString::fromWCharArray(text, n).trimmed() : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
}

// A path as the wide-character calls take it.
inline std::wstring Native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

}  // namespace camwarden::win
