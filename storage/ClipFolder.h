#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <utility>

namespace camwarden::store {

class RecordedClips;
struct Moment;

// The program's own clips in one folder and the bytes they take, listed once
// and then kept up to date, so that the oldest can go when the folder would
// grow past its limit. Only regular files directly in the folder whose names
// are clip names count; nothing else there is ever touched. The folder is
// the one the system resolves its path to, as when a clip's file is made.
// Not thread-safe.
class ClipFolder {
public:
    // What the disk has free, asked only when the folder's room is in question.
    using FreeSpace = std::function<std::optional<int64_t>(const QString& folder)>;

    // Oldest first: the clips that `recorded` has no record of, by the time
    // in their names, then the recorded ones in the order they were
    // recorded, whatever the clock said. Without a record, by names alone.
    explicit ClipFolder(FreeSpace freeSpace, RecordedClips* recorded = nullptr);

    // "SS yyyy-mm-dd hh-mm-ss.avi", or with " (n)" before ".avi".
    static bool IsClipName(const QString& name);

    // Deletes the oldest clips until a clip of `need` bytes fits within
    // `limit` beside the rest and the disk has room for it. Files in
    // `inUse` (clips still being written) are never deleted. Each deletion
    // is logged. False when the disk cannot be given the room; *why says so.
    bool MakeRoom(const QString& folder, int64_t limit, int64_t need, const QStringList& inUse,
                  QString* why);
    // What an age is judged by: a clip's name, and when the record says it
    // was made (none when the record does not have it). A reason to delete
    // it, or none to keep it.
    using Judge = std::function<std::optional<QString>(const QString& name,
                                                       const std::optional<Moment>& made)>;
    // Puts every clip of the prepared folder but those in `inUse` to
    // `judge`, oldest first, and deletes those it gives a reason for,
    // logging it. How many went.
    int DeleteWhere(const QStringList& inUse, const Judge& judge);
    // Lists the folder unless it is the one listed and has not changed
    // since; false when it is not there.
    bool Prepare(const QString& folder);
    // A clip of ours was finished in the folder (or kept as it is).
    void Settled(const QString& file);

    // The path with its folder resolved by the system (links, "..") as it
    // would be to make the file; as given when the folder is not there.
    static QString Resolved(const QString& file);

    // What is known now, for tests and the bench.
    int64_t ListedBytes() const { return total_; }
    size_t ListedClips() const { return clips_.size(); }
    int Listings() const { return listings_; }

private:
    // The stamp in the name, then the number a taken name got.
    using NameKey = std::pair<QString, int>;
    static std::optional<NameKey> KeyOf(const QString& name);
    // Whether recorded, in which order; for the rest their names' key. Last
    // the name itself: two clips never share a key, whatever a record says.
    using Key = std::tuple<bool, uint64_t, QString, int, QString>;
    static Key OrderOf(const QString& name, const NameKey& key, std::optional<uint64_t> sequence);

    void Relist();
    // The clips in `inUse` that are in the folder, by name.
    QStringList InFolder(const QStringList& inUse) const;
    enum class Removal { Deleted, NotOurs, Failed };
    // Deletes a listed clip, checked again right before: only a regular
    // file is ever removed. Either way it is no longer the record's.
    Removal Remove(const QString& name);
    // Notes the folder as it stands after a change of our own.
    void Stamp();
    bool ChangedUnderUs() const;

    FreeSpace freeSpace_;
    RecordedClips* recorded_;
    QString folder_;
    std::filesystem::path path_;
    std::map<Key, std::pair<QString, int64_t>> clips_;  // name and bytes
    int64_t total_ = 0;
    std::optional<std::filesystem::file_time_type> stamp_;
    // Listed in the second of a change: another in that second may not show.
    bool racy_ = false;
    int listings_ = 0;
};

}  // namespace camwarden::store
