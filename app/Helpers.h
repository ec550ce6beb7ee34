#pragma once

#include <QChar>
#include <QString>

class QWidget;

namespace camwarden {

// The separator paths are built with on this platform.
QChar PathSeparator();

bool FileExists(const QString& path);
bool FolderExists(const QString& path);

// Collapses doubled separators in one left-to-right pass; a leading run of
// separators becomes exactly `leadingKeep` of them (two for a Windows
// network path, one on POSIX).
QString CleanPathWith(const QString& path, QChar separator, int leadingKeep);
QString CleanPath(const QString& path);

// Where the shell keeps the user's folders. Empty text when it cannot say.
class ShellFolders {
public:
    static constexpr int kDesktop = 0;
    virtual ~ShellFolders() = default;
    virtual QString SpecialFolderPath(int folder) = 0;
};

// The desktop folder with a trailing separator; throws "Invalid procedure
// call or argument" when the shell cannot name it.
QString DesktopFolder(ShellFolders& shell);

// Applies "x/o.cjs" from the program's folder as the window's style sheet,
// on the system's button-face background. Without the file nothing changes.
void ApplySkin(QWidget& window, const QString& programFolder);

// The title message boxes show when they name none.
QString SetShortTitle(const QString& productTitle);

}  // namespace camwarden
