#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace camwarden::store {

// A moment as the machine tells it: by the wall clock, which anyone may set
// (a dead clock battery, a bad time server), and by the clock that runs from
// the machine's start and no one sets.
struct Moment {
    qint64 wallMs = 0;       // since 1970 UTC, by the wall clock
    QString boot;            // the boot sinceBootMs was read in; empty if unknown
    qint64 sinceBootMs = 0;  // since that boot, a suspend included
    static Moment Now();
};

// How long before `now` the moment `then` was: by the boot clock when both
// are of one boot, else by the wall clock; none when the wall clock puts
// `then` after `now` (it was set back between them).
std::optional<std::chrono::milliseconds> TimeBetween(const Moment& then, const Moment& now);

struct RecordedClip {
    QString file;           // absolute, its folder resolved as the file was made
    uint64_t sequence = 0;  // higher than that of every clip recorded before it, in any run
    Moment started;         // when its file was made
};

// The clips the program recorded, in the order it recorded them, kept in a
// file across runs: whatever the clock did between two clips, the later
// one has the higher sequence. Kept bounded: clips whose files are gone are
// forgotten. The file (JSON lines, one clip to a line) is added to a line at
// a time and rewritten whole by rename now and then, never through a link;
// a thread of its own writes it, so that noting a clip never waits for the
// disk. A line cut short (a power cut, a full disk) is no clip's, and the
// next starts on a line of its own. Safe from any thread.
class RecordedClips {
public:
    // In the program's state folder, beside the list of unfinished clips.
    static QString DefaultPath();
    // Beside a settings file given by name (a test's, or a portable setup).
    static QString BesidePath(const QString& settingsFile);

    // Reads what earlier runs noted, on the record's own thread: a record of
    // many clips takes its time, and the first question waits for it. An
    // empty path keeps the record in memory only.
    explicit RecordedClips(QString path);
    ~RecordedClips();
    RecordedClips(const RecordedClips&) = delete;
    RecordedClips& operator=(const RecordedClips&) = delete;

    // Notes a clip whose file was just made, as the last one recorded.
    RecordedClip Add(const QString& file, const Moment& started = Moment::Now());
    std::optional<RecordedClip> Find(const QString& file) const;
    // When the clip `name` in `folder` (as Find gives its folder) was made.
    std::optional<Moment> StartedIn(const QString& folder, const QString& name) const;
    // When the clip noted last was made, in any run, even if it is gone since.
    std::optional<Moment> Latest() const;
    // Every clip noted, oldest first.
    std::vector<RecordedClip> All() const;
    // The sequences of the clips noted in `folder`, by file name.
    QHash<QString, uint64_t> SequencesIn(const QString& folder) const;
    // The sequence the next clip noted will get.
    uint64_t NextSequence() const;

    // The clip's file is gone (it was deleted to make room).
    void Forget(const QString& file);
    // `names` are every clip file in `folder` as listed from when the next
    // sequence was `before`: the others noted there before then are gone.
    void Listed(const QString& folder, const QSet<QString>& names, uint64_t before);
    // Forgets every clip whose folder is there and file is not. It may block
    // on a folder, so never on the UI thread.
    void ForgetVanished();

    // Waits until what was noted so far is written, or its writing failed.
    void Flush();
    // How many times the file was written anew, for tests and the bench.
    int Rewrites() const;

private:
    struct Entry {
        uint64_t sequence = 0;
        Moment started;
    };
    // Folder, then file name: a folder's clips share their folder's text.
    using Folders = std::map<QString, QHash<QString, Entry>>;
    using Clock = std::chrono::steady_clock;
    static std::vector<RecordedClip> Ordered(const Folders& clips);
    // The record's thread: loads, then writes what is noted.
    void Work();
    void Load();
    // m_, held once what earlier runs noted is read.
    std::unique_lock<std::mutex> Loaded() const;
    // These under m_; the two writers let go of it while the disk works.
    void CompactIfDue();
    void Renumber();
    bool RewriteNow() const;
    void Rewrite(std::unique_lock<std::mutex>& lock);
    void AppendPending(std::unique_lock<std::mutex>& lock);
    void Complain(const QString& why);

    const QString path_;
    mutable std::mutex m_;
    mutable std::condition_variable read_;
    bool loaded_ = false;
    Folders clips_;
    uint64_t next_ = 1;
    std::optional<Moment> latest_;
    size_t count_ = 0;
    size_t linesInFile_ = 0;
    // Lines noted and not yet written, oldest first.
    std::vector<QByteArray> pending_;
    // The file misses what is noted (a write failed) or holds what it should
    // not (torn lines, untrusted numbers, many clips since gone).
    bool rewriteDue_ = false;
    // After a failed rewrite: none is tried again before then, so that a
    // folder that cannot be written costs no rewrite per clip.
    std::optional<Clock::time_point> retryAt_;
    bool appendFailed_ = false;
    // The file may end in a torn line: the next line starts a line of its own.
    bool newline_ = false;
    bool writing_ = false;
    bool stop_ = false;
    int rewrites_ = 0;
    bool complained_ = false;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::thread worker_;  // last: it uses all of the above
};

}  // namespace camwarden::store
