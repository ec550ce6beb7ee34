#include "platform/gst/RecordedClips.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>

#include "app/Os.h"
#include "platform/gst/CaptureLog.h"
#include "platform/gst/FsPath.h"
#include "platform/gst/StateFile.h"

namespace camwarden::capgst {
namespace fs = std::filesystem;

namespace {

// Far more clips than any folder holds; past it the earliest are forgotten.
constexpr size_t kMaxClips = 500'000;
constexpr qint64 kMaxRecordBytes = qint64(kMaxClips) * 2 * 512;
// Lines of clips since gone that the file may hold before it is rewritten.
constexpr size_t kSlack = 1024;

QString Join(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

const QString& ThisBoot() {
    static const QString boot = os::BootId();
    return boot;
}

QByteArray Line(const QString& file, uint64_t sequence, const Moment& m) {
    const QJsonObject o{{QStringLiteral("seq"), qint64(sequence)},
                        {QStringLiteral("file"), file},
                        {QStringLiteral("wall"), m.wallMs},
                        {QStringLiteral("boot"), m.boot},
                        {QStringLiteral("up"), m.sinceBootMs}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace

Moment Moment::Now() {
    return Moment{QDateTime::currentMSecsSinceEpoch(), ThisBoot(), os::SinceBootMs()};
}

std::optional<std::chrono::milliseconds> TimeBetween(const Moment& then, const Moment& now) {
    if (!then.boot.isEmpty() && then.boot == now.boot)
        return std::chrono::milliseconds(std::max<qint64>(0, now.sinceBootMs - then.sinceBootMs));
    if (now.wallMs < then.wallMs) return std::nullopt;
    return std::chrono::milliseconds(now.wallMs - then.wallMs);
}

QString RecordedClips::DefaultPath() {
    return os::StateFolder() + QStringLiteral("/recorded-clips.jsonl");
}

QString RecordedClips::BesidePath(const QString& settingsFile) {
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/recorded-clips.jsonl");
}

RecordedClips::RecordedClips(QString path) : path_(std::move(path)) {
    if (path_.isEmpty()) {
        loaded_ = true;
        return;
    }
    loader_ = std::thread([this] { Load(); });
}

RecordedClips::~RecordedClips() {
    if (loader_.joinable()) loader_.join();
}

std::unique_lock<std::mutex> RecordedClips::Loaded() const {
    std::unique_lock lock(m_);
    read_.wait(lock, [this] { return loaded_; });
    return lock;
}

void RecordedClips::Load() {
    QString why;
    const std::optional<QByteArray> bytes = ReadStateFile(path_, kMaxRecordBytes, &why);
    if (!bytes)
        qCWarning(lcCapture).noquote()
            << "Ignoring" << path_ << ":" << why
            << "- the clips recorded so far count as older than those recorded from now on";
    // Nothing else touches the record until it is loaded.
    std::lock_guard lock(m_);
    QHash<QString, QString> boots;  // one copy of each boot's id, shared by its clips
    const QByteArray all = bytes.value_or(QByteArray());
    for (qsizetype at = 0, end = 0; at < all.size(); at = end + 1) {
        end = all.indexOf('\n', at);
        if (end < 0) end = all.size();
        if (end == at) continue;
        ++linesInFile_;
        // A line a power cut tore is no clip's.
        const QJsonObject o = QJsonDocument::fromJson(all.mid(at, end - at)).object();
        const qint64 sequence = o.value(QLatin1String("seq")).toInteger();
        const QString file = o.value(QLatin1String("file")).toString();
        if (sequence <= 0 || !QDir::isAbsolutePath(file)) continue;
        const QString boot = o.value(QLatin1String("boot")).toString();
        Entry e{uint64_t(sequence),
                Moment{o.value(QLatin1String("wall")).toInteger(), boots.value(boot, boot),
                       o.value(QLatin1String("up")).toInteger()}};
        boots.insert(boot, e.started.boot);
        QHash<QString, Entry>& folder = clips_[FolderPart(file)];
        if (!folder.contains(NamePart(file))) ++count_;
        folder.insert(NamePart(file), e);
        if (e.sequence >= next_) latest_ = e.started;
        next_ = std::max(next_, e.sequence + 1);
    }
    loaded_ = true;
    read_.notify_all();
}

RecordedClip RecordedClips::Add(const QString& file, const Moment& started) {
    const auto lock = Loaded();
    if (count_ >= kMaxClips) {
        // The earliest goes: a folder with this many clips is deleted from
        // by their names' times.
        auto oldest = std::pair<QString, QString>();
        uint64_t lowest = UINT64_MAX;
        for (const auto& [folder, names] : clips_)
            for (auto it = names.begin(); it != names.end(); ++it)
                if (it->sequence < lowest) {
                    lowest = it->sequence;
                    oldest = {folder, it.key()};
                }
        clips_[oldest.first].remove(oldest.second);
        --count_;
    }
    const QString folder = FolderPart(file);
    const QString name = NamePart(file);
    const Entry e{next_++, started};
    latest_ = started;
    QHash<QString, Entry>& names = clips_[folder];
    if (!names.contains(name)) ++count_;
    names.insert(name, e);
    Append(folder, name, e);
    return RecordedClip{file, e.sequence, e.started};
}

void RecordedClips::Append(const QString& folder, const QString& name, const Entry& e) {
    if (path_.isEmpty()) return;
    QString why;
    if (AppendStateFile(path_, Line(Join(folder, name), e.sequence, e.started), &why)) {
        ++linesInFile_;
        CompactIfDue();
        return;
    }
    // Something else is at the name (a link, a FIFO), or the disk refused:
    // the record is written anew in its place.
    Compact();
}

std::optional<RecordedClip> RecordedClips::Find(const QString& file) const {
    const auto lock = Loaded();
    const auto folder = clips_.find(FolderPart(file));
    if (folder == clips_.end()) return std::nullopt;
    const auto it = folder->second.constFind(NamePart(file));
    if (it == folder->second.cend()) return std::nullopt;
    return RecordedClip{file, it->sequence, it->started};
}

std::optional<Moment> RecordedClips::StartedIn(const QString& folder, const QString& name) const {
    const auto lock = Loaded();
    const auto it = clips_.find(folder);
    if (it == clips_.end()) return std::nullopt;
    const auto e = it->second.constFind(name);
    if (e == it->second.cend()) return std::nullopt;
    return e->started;
}

std::optional<Moment> RecordedClips::Latest() const {
    const auto lock = Loaded();
    return latest_;
}

QHash<QString, uint64_t> RecordedClips::SequencesIn(const QString& folder) const {
    const auto lock = Loaded();
    QHash<QString, uint64_t> out;
    const auto it = clips_.find(folder);
    if (it == clips_.end()) return out;
    out.reserve(it->second.size());
    for (auto e = it->second.cbegin(); e != it->second.cend(); ++e)
        out.insert(e.key(), e->sequence);
    return out;
}

uint64_t RecordedClips::NextSequence() const {
    const auto lock = Loaded();
    return next_;
}

std::vector<RecordedClip> RecordedClips::All() const {
    const auto lock = Loaded();
    std::vector<RecordedClip> all;
    all.reserve(count_);
    for (const auto& [folder, names] : clips_)
        for (auto it = names.cbegin(); it != names.cend(); ++it)
            all.push_back({Join(folder, it.key()), it->sequence, it->started});
    std::sort(all.begin(), all.end(),
              [](const RecordedClip& a, const RecordedClip& b) { return a.sequence < b.sequence; });
    return all;
}

void RecordedClips::Forget(const QString& file) {
    const auto lock = Loaded();
    const auto folder = clips_.find(FolderPart(file));
    if (folder == clips_.end() || !folder->second.remove(NamePart(file))) return;
    --count_;
    CompactIfDue();
}

void RecordedClips::Listed(const QString& folder, const QSet<QString>& names, uint64_t before) {
    const auto lock = Loaded();
    const auto it = clips_.find(folder);
    if (it == clips_.end()) return;
    // A clip noted since the listing began may not be in it.
    it->second.removeIf([&](const QHash<QString, Entry>::iterator& e) {
        const bool gone = e->sequence < before && !names.contains(e.key());
        if (gone) --count_;
        return gone;
    });
    CompactIfDue();
}

void RecordedClips::ForgetVanished() {
    std::vector<std::pair<QString, std::vector<std::pair<QString, uint64_t>>>> noted;
    {
        const auto lock = Loaded();
        for (const auto& [folder, names] : clips_) {
            auto& entry = noted.emplace_back(folder, std::vector<std::pair<QString, uint64_t>>());
            for (auto it = names.cbegin(); it != names.cend(); ++it)
                entry.second.emplace_back(it.key(), it->sequence);
        }
    }
    // Asked without the lock: a folder may take its time to answer.
    std::vector<std::pair<QString, std::pair<QString, uint64_t>>> vanished;
    for (const auto& [folder, names] : noted) {
        std::error_code ec;
        const fs::path dir = FsPath(folder);
        // A folder that is not there (a disk not mounted) keeps its clips.
        if (!fs::is_directory(dir, ec)) continue;
        for (const auto& [name, sequence] : names) {
            const fs::path file = dir / FsPath(name);
            if (fs::symlink_status(file, ec).type() == fs::file_type::not_found)
                vanished.push_back({folder, {name, sequence}});
        }
    }
    std::lock_guard lock(m_);
    for (const auto& [folder, clip] : vanished) {
        const auto it = clips_.find(folder);
        if (it == clips_.end()) continue;
        const auto e = it->second.constFind(clip.first);
        if (e == it->second.cend() || e->sequence != clip.second) continue;
        it->second.erase(e);
        --count_;
    }
    CompactIfDue();
}

void RecordedClips::CompactIfDue() {
    if (!path_.isEmpty() && linesInFile_ > 2 * count_ + kSlack) Compact();
}

void RecordedClips::Compact() {
    for (auto it = clips_.begin(); it != clips_.end();)
        it = it->second.isEmpty() ? clips_.erase(it) : std::next(it);
    if (path_.isEmpty()) return;
    std::vector<std::pair<uint64_t, QByteArray>> lines;
    lines.reserve(count_);
    for (const auto& [folder, names] : clips_)
        for (auto it = names.cbegin(); it != names.cend(); ++it)
            lines.emplace_back(it->sequence,
                               Line(Join(folder, it.key()), it->sequence, it->started));
    std::sort(lines.begin(), lines.end());
    QByteArray all;
    for (const auto& line : lines) all += line.second;
    QString why;
    QString replaced;
    if (ReplaceStateFile(path_, all, &why, &replaced)) {
        linesInFile_ = lines.size();
        complained_ = false;
        if (!replaced.isEmpty())
            qCWarning(lcCapture).noquote()
                << path_ << "was" << replaced + QStringLiteral(": replaced by the record itself");
    } else if (!complained_) {
        complained_ = true;
        qCWarning(lcCapture).noquote()
            << "Cannot note the order clips are recorded in, in" << path_ << ":" << why
            << "- after a restart the clips recorded now count as the oldest";
    }
}

}  // namespace camwarden::capgst
