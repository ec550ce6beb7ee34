#pragma once

#include <QChar>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

class QWidget;

namespace camwarden {

// The separator paths are built with on this platform.
QChar PathSeparator();

bool FileExists(const QString& path);
bool FolderExists(const QString& path);

// Asks whether a folder exists without waiting on one that no longer
// answers (a hung network share, a stopped FUSE mount): the look runs on a
// thread of its own and is given a bound. No answer in time counts as
// there, since a folder that hangs has not been removed; while one look
// hangs, no other is started.
class FolderProbe {
public:
    using Look = std::function<bool(const QString&)>;
    static constexpr std::chrono::milliseconds kBound{30};

    explicit FolderProbe(Look look = FolderExists) : look_(std::move(look)) {}
    bool Exists(const QString& path);

private:
    struct Pending;
    Look look_;
    std::shared_ptr<Pending> hanging_;
};

// Collapses doubled separators in one left-to-right pass; a leading run of
// separators becomes exactly `leadingKeep` of them (two for a Windows
// network path, one on POSIX).
QString CleanPathWith(const QString& path, QChar separator, int leadingKeep);
QString CleanPath(const QString& path);

// Where the shell keeps the user's folders. Empty text when it cannot say.
// With `create`, a folder the shell names but that is not there is made.
class ShellFolders {
public:
    static constexpr int kDesktop = 0;
    virtual ~ShellFolders() = default;
    virtual QString SpecialFolderPath(int folder, bool create) = 0;
};

// The desktop folder with a trailing separator; throws "Invalid procedure
// call or argument" when the shell cannot name it.
QString DesktopFolder(ShellFolders& shell, bool create = false);

// Applies "x/o.cjs" from the program's folder as the window's style sheet,
// on the system's button-face background. Without the file nothing changes.
void ApplySkin(QWidget& window, const QString& programFolder);

// The title message boxes show when they name none.
QString SetShortTitle(const QString& productTitle);

}  // namespace camwarden
