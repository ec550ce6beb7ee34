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

// A path as the wide-character calls take it. One past what they take
// unmarked (a clip folder deep in a tree) is marked as the system's own
// full path, which no length limit applies to, whatever the machine's
// long-path setting.
inline std::wstring Native(const QString& path) {
    // CreateDirectory's limit, a little below every file call's MAX_PATH.
    constexpr qsizetype kUnmarked = 248;
    QString native = QDir::toNativeSeparators(path);
    if (native.size() < kUnmarked || native.startsWith(QStringLiteral("\\\\?\\")) ||
        native.startsWith(QStringLiteral("\\\\.\\")))
        return native.toStdWString();
    const bool network = native.startsWith(QStringLiteral("\\\\"));
    const bool drive =
        native.size() > 2 && native.at(1) == QLatin1Char(':') && native.at(2) == QLatin1Char('\\');
    if (!network && !drive) return native.toStdWString();  // relative: left to the system
    // Marked paths are taken as they are: "." and ".." go first, as the system would.
    native = QDir::toNativeSeparators(QDir::cleanPath(QDir::fromNativeSeparators(native)));
    return (network ? QStringLiteral("\\\\?\\UNC") + native.mid(1)
                    : QStringLiteral("\\\\?\\") + native)
        .toStdWString();
}

}  // namespace camwarden::win
