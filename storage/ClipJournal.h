#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

namespace camwarden::store {

// The clips being recorded, noted on disk while they are, so that a run
// which ends without finishing them (a kill, a crash, a power cut) leaves
// them listed for the next run to repair. The list is never read or written
// through a link. Safe from any thread.
class ClipJournal {
public:
    // In the program's state folder ($XDG_STATE_HOME/camwarden/ on Linux,
    // %LOCALAPPDATA%\Quillory\Camwarden\ on Windows), where nothing else of
    // the user's lives.
    static QString DefaultPath();
    // Beside a settings file given by name (a test's, or a portable setup).
    static QString BesidePath(const QString& settingsFile);

    // Reads what an earlier run left listed. An empty path notes nothing.
    explicit ClipJournal(QString path);

    // What an earlier run left listed; they stay listed until Ended, in the
    // list on disk too.
    QStringList Leftovers() const;
    bool HasLeftovers() const;
    // Both return once the list is on disk.
    void Began(const QString& file);
    void Ended(const QString& file);

private:
    void Store();  // under m_

    const QString path_;
    mutable std::mutex m_;
    QStringList listed_;
    QStringList leftovers_;
    bool complained_ = false;
};

}  // namespace camwarden::store
