#include "storage/ClipFolder.h"

#include <QFile>
#include <QSet>
#include <algorithm>
#include <chrono>

#include "storage/FsPath.h"
#include "storage/RecordedClips.h"
#include "storage/StoreLog.h"

namespace camwarden::store {
namespace fs = std::filesystem;

namespace {

constexpr int kStampLength = 19;  // yyyy-mm-dd hh-mm-ss

bool Digits(const QString& s, qsizetype from, qsizetype count) {
    for (qsizetype i = from; i < from + count; ++i)
        if (i >= s.size() || !s.at(i).isDigit() || s.at(i).unicode() > '9') return false;
    return true;
}

QString FileIn(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString Megabytes(int64_t bytes) {
    return QString::number(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

}  // namespace

ClipFolder::ClipFolder(FreeSpace freeSpace, RecordedClips* recorded)
    : freeSpace_(std::move(freeSpace)), recorded_(recorded) {}

QString ClipFolder::Resolved(const QString& file) {
    std::error_code ec;
    const fs::path folder = fs::canonical(FsPath(FolderPart(file)), ec);
    if (ec) return file;
    return QtPath(folder / FsPath(NamePart(file)));
}

ClipFolder::Key ClipFolder::OrderOf(const QString& name, const NameKey& key,
                                    std::optional<uint64_t> sequence) {
    if (sequence) return {true, *sequence, QString(), 0, name};
    return {false, 0, key.first, key.second, name};
}

std::optional<ClipFolder::NameKey> ClipFolder::KeyOf(const QString& name) {
    // "SS " stamp [" (" n ")"] ".avi"
    constexpr qsizetype kStart = 3;
    if (!name.startsWith(QLatin1String("SS ")) || !name.endsWith(QLatin1String(".avi")))
        return std::nullopt;
    const QString stamp = name.mid(kStart, kStampLength);
    const auto at = [&](qsizetype i, char c) { return stamp.size() > i && stamp.at(i) == c; };
    if (!Digits(stamp, 0, 4) || !at(4, '-') || !Digits(stamp, 5, 2) || !at(7, '-') ||
        !Digits(stamp, 8, 2) || !at(10, ' ') || !Digits(stamp, 11, 2) || !at(13, '-') ||
        !Digits(stamp, 14, 2) || !at(16, '-') || !Digits(stamp, 17, 2))
        return std::nullopt;
    const QString rest = name.mid(kStart + kStampLength, name.size() - kStart - kStampLength - 4);
    if (rest.isEmpty()) return NameKey{stamp, 1};
    // A taken name's number, as the clip file gives it: " (2)" and up.
    if (rest.size() < 4 || rest.size() > 8 || !rest.startsWith(QLatin1String(" (")) ||
        !rest.endsWith(QLatin1Char(')')) || !Digits(rest, 2, rest.size() - 3) ||
        rest.at(2) == QLatin1Char('0'))
        return std::nullopt;
    return NameKey{stamp, rest.mid(2, rest.size() - 3).toInt()};
}

bool ClipFolder::IsClipName(const QString& name) {
    return KeyOf(name).has_value();
}

void ClipFolder::Relist() {
    clips_.clear();
    total_ = 0;
    ++listings_;
    std::error_code ec;
    // Taken before listing: a change made meanwhile shows as one next time.
    stamp_ = fs::last_write_time(path_, ec);
    if (ec) stamp_.reset();
    // Where a folder's time counts whole seconds (Windows' C library), a file
    // added in the second this listing was taken leaves it as it was: such a
    // listing is taken again at the next look.
    racy_ = stamp_ && fs::file_time_type::clock::now() - *stamp_ < std::chrono::seconds(2);
    const uint64_t before = recorded_ ? recorded_->NextSequence() : 0;
    const QHash<QString, uint64_t> sequences =
        recorded_ ? recorded_->SequencesIn(folder_) : QHash<QString, uint64_t>();
    QSet<QString> names;
    for (fs::directory_iterator it(path_, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        const QString name = QtPath(it->path().filename());
        const auto key = KeyOf(name);
        // Never a link, whatever it points at.
        if (!key || it->symlink_status(ec).type() != fs::file_type::regular) continue;
        const auto bytes = it->file_size(ec);
        if (ec) {
            ec.clear();
            continue;
        }
        const auto sequence = sequences.constFind(name);
        clips_[OrderOf(
            name, *key,
            sequence == sequences.cend() ? std::nullopt : std::optional<uint64_t>(*sequence))] = {
            name, int64_t(bytes)};
        total_ += int64_t(bytes);
        if (!sequences.isEmpty()) names.insert(name);
    }
    // A listing cut short by an error is no list of what is gone.
    if (!sequences.isEmpty() && !ec) recorded_->Listed(folder_, names, before);
    qCInfo(lcStore).noquote() << "The clips in" << folder_ << "take" << Megabytes(total_)
                              << QStringLiteral("(%1 files)").arg(clips_.size());
}

void ClipFolder::Stamp() {
    std::error_code ec;
    stamp_ = fs::last_write_time(path_, ec);
    if (ec) stamp_.reset();
    racy_ = false;
}

bool ClipFolder::ChangedUnderUs() const {
    std::error_code ec;
    return racy_ || !stamp_ || fs::last_write_time(path_, ec) != *stamp_ || ec;
}

bool ClipFolder::Prepare(const QString& folder) {
    // Resolved as the system resolves a clip's path when it makes the file:
    // "<link>/../clips" is where the link points, not "clips" beside it.
    std::error_code ec;
    const fs::path resolved =
        fs::canonical(FsPath(folder.isEmpty() ? QStringLiteral(".") : folder), ec);
    if (ec || !fs::is_directory(resolved, ec)) {
        folder_.clear();
        path_.clear();
        clips_.clear();
        total_ = 0;
        stamp_.reset();
        return false;
    }
    const QString name = QtPath(resolved);
    if (name != folder_) {
        folder_ = name;
        path_ = resolved;
        stamp_.reset();
    }
    if (ChangedUnderUs()) Relist();
    return true;
}

bool ClipFolder::MakeRoom(const QString& folder, int64_t limit, int64_t need,
                          const QStringList& inUse, QString* why) {
    // A folder that is not there has nothing to delete; making the clip's
    // file will say why it fails.
    if (!Prepare(folder)) return true;

    const QStringList busy = InFolder(inUse);
    const auto deletable = [&](const QString& name) { return !busy.contains(name); };
    // How many of the oldest clips must go for the limit alone, and for the
    // limit and the disk together. A disk filled by other files is not made
    // room on by deleting every clip in vain.
    const std::optional<int64_t> free = freeSpace_ ? freeSpace_(folder_) : std::nullopt;
    int64_t total = total_;
    int64_t freed = 0;
    size_t forLimit = 0;
    size_t forBoth = 0;
    size_t deletableCount = 0;
    bool diskFits = !free || *free >= need;
    bool limitFits = total + need <= limit;
    for (const auto& [key, clip] : clips_) {
        if (limitFits && diskFits) break;
        if (!deletable(clip.first)) continue;
        ++deletableCount;
        total -= clip.second;
        freed += clip.second;
        if (!limitFits) forLimit = deletableCount;
        limitFits = total + need <= limit;
        diskFits = !free || *free + freed >= need;
        forBoth = deletableCount;
    }
    const size_t toDelete = diskFits ? forBoth : forLimit;

    size_t deleted = 0;
    for (auto it = clips_.begin(); it != clips_.end() && deleted < toDelete;) {
        const auto& [name, bytes] = it->second;
        if (!deletable(name)) {
            ++it;
            continue;
        }
        ++deleted;
        const Removal removal = Remove(name);
        if (removal == Removal::Failed) {
            ++it;
            continue;
        }
        if (removal == Removal::Deleted)
            qCInfo(lcStore).noquote()
                << "Deleted the oldest clip" << FileIn(folder_, name)
                << (deleted <= forLimit
                        ? QStringLiteral("(%1) to keep the folder within %2")
                              .arg(Megabytes(bytes), Megabytes(limit))
                        : QStringLiteral("(%1) to make room on the disk").arg(Megabytes(bytes)));
        total_ -= bytes;
        it = clips_.erase(it);
    }
    if (deleted > 0) Stamp();

    if (!diskFits) {
        *why = QStringLiteral("the disk has no room for a clip even without the old clips");
        return false;
    }
    if (total_ + need > limit)
        qCWarning(lcStore).noquote() << "The clips in" << folder_ << "take more than the limit of"
                                     << Megabytes(limit) << "even with every old clip gone";
    return true;
}

QStringList ClipFolder::InFolder(const QStringList& inUse) const {
    QStringList names;
    for (const QString& f : inUse) {
        const QString resolved = Resolved(f);
        if (FolderPart(resolved) == folder_) names << NamePart(resolved);
    }
    return names;
}

ClipFolder::Removal ClipFolder::Remove(const QString& name) {
    const fs::path p = path_ / FsPath(name);
    std::error_code ec;
    const bool ours = fs::symlink_status(p, ec).type() == fs::file_type::regular;
    if (ours && !fs::remove(p, ec)) {
        qCWarning(lcStore).noquote() << "Cannot delete the old clip" << FileIn(folder_, name) << ":"
                                     << QString::fromStdString(ec.message());
        return Removal::Failed;
    }
    if (recorded_) recorded_->Forget(FileIn(folder_, name));
    return ours ? Removal::Deleted : Removal::NotOurs;
}

int ClipFolder::DeleteWhere(const QStringList& inUse, const Judge& judge) {
    const QStringList busy = InFolder(inUse);
    int deleted = 0;
    for (auto it = clips_.begin(); it != clips_.end();) {
        const auto& [name, bytes] = it->second;
        const bool recorded = std::get<0>(it->first);
        const std::optional<QString> why =
            busy.contains(name)
                ? std::nullopt
                : judge(name,
                        recorded && recorded_ ? recorded_->StartedIn(folder_, name) : std::nullopt);
        const Removal removal = why ? Remove(name) : Removal::Failed;
        if (!why || removal == Removal::Failed) {
            ++it;
            continue;
        }
        if (removal == Removal::Deleted) {
            ++deleted;
            qCInfo(lcStore).noquote()
                << QStringLiteral("Deleted the clip %1, %2").arg(FileIn(folder_, name), *why);
        }
        total_ -= bytes;
        it = clips_.erase(it);
    }
    if (deleted > 0) Stamp();
    return deleted;
}

void ClipFolder::Settled(const QString& file) {
    const QString resolved = Resolved(file);
    if (!stamp_ || FolderPart(resolved) != folder_) return;
    const QString name = NamePart(resolved);
    const auto key = KeyOf(name);
    std::error_code ec;
    const fs::path p = FsPath(resolved);
    if (key && fs::symlink_status(p, ec).type() == fs::file_type::regular) {
        const auto bytes = int64_t(fs::file_size(p, ec));
        if (!ec) {
            std::optional<uint64_t> sequence;
            if (recorded_)
                if (const auto r = recorded_->Find(resolved)) sequence = r->sequence;
            const auto [it, added] = clips_.try_emplace(OrderOf(name, *key, sequence), name, bytes);
            if (!added) total_ -= it->second.second;
            // Listed before the record had it: counted once, in its new place.
            for (auto other = clips_.begin(); added && other != clips_.end();) {
                if (other != it && other->second.first == name) {
                    total_ -= other->second.second;
                    other = clips_.erase(other);
                } else {
                    ++other;
                }
            }
            it->second.second = bytes;
            total_ += bytes;
        }
    }
    // The change was ours (a clip that held no frame was removed again).
    Stamp();
}

}  // namespace camwarden::store
