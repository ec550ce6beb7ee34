#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>

#include "storage/RecordedClips.h"

namespace camwarden::store {

class ClipFolder;

// The last moment the program looked at the clock in this boot, kept in a
// file across its runs: a jump of the wall clock while it was not running,
// or while it ran with nothing to date, still shows at its next look.
class ClockNote {
public:
    struct Seen {
        Moment at;
        std::optional<qint64> steadyAt;  // by the boot clock, when a jump was seen
    };
    // Beside the record of recorded clips; an empty path keeps it in memory.
    static QString BesideRecord(const QString& recordFile);
    // Read at its first use, on the thread that looks at the clock, not
    // while the program starts.
    explicit ClockNote(QString path) : path_(std::move(path)) {}
    std::optional<Seen> Last();
    void Write(const Seen& seen);

private:
    QString path_;
    bool read_ = false;
    std::optional<Seen> last_;
    bool complained_ = false;
};

// Keeps the clips of one folder no older than a number of days. A clip's age
// is measured by the boot clock when the record says it was made in this
// boot; else (made before it, or not by this program) by the wall clock
// against the time the record or its name gives, and a time in the future
// counts as new. The wall clock is watched against the boot clock: when it
// moves more than a day against it, no clip is deleted by it until it has
// been steady for an hour, so a wrong clock never wipes the folder at once.
// Not thread-safe.
class AgeLimit {
public:
    using Clock = std::function<Moment()>;
    static constexpr qint64 kDayMs = 86'400'000;
    // A move of the wall clock against the boot clock past this is a jump.
    static constexpr qint64 kJumpMs = kDayMs;
    // How long the clock must then be steady before it is trusted again.
    static constexpr qint64 kSteadyMs = 3'600'000;
    // The folder is looked at this often at most for clips coming due: each
    // goes within that of passing its age.
    static constexpr qint64 kLeastWaitMs = 30'000;
    // A folder that is not there (a disk not mounted) is looked for again after this.
    static constexpr qint64 kAbsentWaitMs = 3'600'000;

    // `clips` lists and deletes; `recorded` says when the program made its clips.
    AgeLimit(ClipFolder& clips, RecordedClips* recorded, Clock now = &Moment::Now,
             ClockNote* note = nullptr);

    // Looks at the clock alone, limit or none, so that a jump since an
    // earlier run of this boot is held from now on.
    void WatchClockNow() { WatchClock(now_()); }

    // The folder as a clip's name is put after it; 0 days: no limit. A
    // change is acted on at the next Look.
    void Set(const QString& folder, int days);
    // A clip made at `started` is in the folder: it comes due past the limit.
    void Noted(const Moment& started);
    // Looks at the clock, and at the folder when a clip may have come due:
    // deletes each clip older than the limit but those in `inUse`. How long
    // until it should look again; none while there is nothing to wait for.
    std::optional<std::chrono::milliseconds> Look(const QStringList& inUse);

private:
    void WatchClock(const Moment& now);
    void Sweep(const Moment& now, const QStringList& inUse);

    ClipFolder& clips_;
    RecordedClips* recorded_;
    Clock now_;
    ClockNote* note_;
    QString folder_;
    int days_ = 0;
    std::optional<qint64> due_;       // by the boot clock: when to look at the folder
    std::optional<Moment> lastLook_;  // at the clock
    std::optional<qint64> steadyAt_;  // by the boot clock: when a jumped clock is trusted again
};

}  // namespace camwarden::store
