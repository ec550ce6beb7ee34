#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <filesystem>

namespace camwarden::store {

// Paths between Qt's text, always with "/", and the system's own form. A
// folder typed with backslashes on Windows is the same folder; nothing else
// about the text is changed ("<link>/.." stays for the system to resolve).
inline std::filesystem::path FsPath(const QString& path) {
    return QFileInfo(path).filesystemFilePath();
}
inline QString QtPath(const std::filesystem::path& path) {
    return QDir::fromNativeSeparators(QFileInfo(path).filePath());
}
// A file's folder as the system reads its path: "/" and "C:/" keep their root.
inline QString FolderPart(const QString& file) {
    return QFileInfo(QDir::fromNativeSeparators(file)).path();
}
inline QString NamePart(const QString& file) {
    return QFileInfo(QDir::fromNativeSeparators(file)).fileName();
}

}  // namespace camwarden::store
