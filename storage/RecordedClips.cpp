#include "storage/RecordedClips.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>

#include "storage/FsPath.h"
#include "storage/StateFile.h"
#include "storage/StoreLog.h"
#include "storage/System.h"

namespace camwarden::store {
namespace fs = std::filesystem;

namespace {

// Far more clips than any folder holds; past it the earliest are forgotten.
constexpr size_t kMaxClips = 500'000;
constexpr qint64 kMaxRecordBytes = qint64(kMaxClips) * 2 * 512;
// Lines of clips since gone that the file may hold before it is rewritten.
constexpr size_t kSlack = 1024;
// Exact in any JSON reader; the clips are numbered anew before they get there.
constexpr uint64_t kMaxSequence = uint64_t(1) << 53;
// How long a rewrite that failed keeps the next from being tried.
constexpr std::chrono::minutes kRetryRewrite{5};

QString Join(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

const QString& ThisBoot() {
    static const QString boot = sys::BootId();
    return boot;
}

// A clip whose start a tear cut off keeps its place but no time: its name
// dates it, as for a clip the record does not know.
bool Dated(const Moment& m) {
    return m.wallMs != 0 || m.sinceBootMs != 0 || !m.boot.isEmpty();
}

QByteArray Line(const QString& file, uint64_t sequence, const Moment& m) {
    QJsonObject o{{QStringLiteral("seq"), qint64(sequence)}, {QStringLiteral("file"), file}};
    if (Dated(m)) {
        o.insert(QStringLiteral("wall"), m.wallMs);
        o.insert(QStringLiteral("boot"), m.boot);
        o.insert(QStringLiteral("up"), m.sinceBootMs);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

struct NotedLine {
    QString file;
    std::optional<uint64_t> sequence;  // none when it cannot be trusted
    Moment started;
};

// A line as the program writes it, every field there and of its kind; a
// fragment a tear left is none.
std::optional<NotedLine> Parse(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue seq = o.value(QLatin1String("seq"));
    const QJsonValue file = o.value(QLatin1String("file"));
    const QJsonValue wall = o.value(QLatin1String("wall"));
    const QJsonValue boot = o.value(QLatin1String("boot"));
    const QJsonValue up = o.value(QLatin1String("up"));
    const bool undated = wall.isUndefined() && boot.isUndefined() && up.isUndefined();
    if (!seq.isDouble() || !file.isString() || !QDir::isAbsolutePath(file.toString()) ||
        (!undated && (!wall.isDouble() || !boot.isString() || !up.isDouble())))
        return std::nullopt;
    // Earlier runs stored a number past the top of qint64 as a negative one.
    const qint64 n = seq.toInteger(0);
    std::optional<uint64_t> sequence;
    if (n > 0 && uint64_t(n) <= kMaxSequence) sequence = uint64_t(n);
    return NotedLine{file.toString(), sequence,
                     Moment{wall.toInteger(), boot.toString(), up.toInteger()}};
}

// The clip a torn line named, when its name made it through: the line was
// the last one added, so the clip keeps its place after those before it.
// Its times are what a tear cuts first, so none are guessed.
std::optional<NotedLine> Salvage(const QByteArray& fragment) {
    static constexpr char kKey[] = "\"file\":\"";
    const qsizetype from = fragment.indexOf(kKey);
    if (from < 0) return std::nullopt;
    const qsizetype open = from + qsizetype(sizeof kKey) - 2;
    for (qsizetype at = open + 1; at < fragment.size(); ++at) {
        if (fragment[at] == '\\') {
            ++at;
        } else if (fragment[at] == '"') {
            const QJsonDocument doc =
                QJsonDocument::fromJson("{\"f\":" + fragment.mid(open, at + 1 - open) + '}');
            const QString file = doc.object().value(QLatin1String("f")).toString();
            if (!QDir::isAbsolutePath(file)) return std::nullopt;
            return NotedLine{file, std::nullopt, Moment{}};
        }
    }
    return std::nullopt;
}

}  // namespace

Moment Moment::Now() {
    return Moment{QDateTime::currentMSecsSinceEpoch(), ThisBoot(), sys::SinceBootMs()};
}

std::optional<std::chrono::milliseconds> TimeBetween(const Moment& then, const Moment& now) {
    if (!then.boot.isEmpty() && then.boot == now.boot)
        return std::chrono::milliseconds(std::max<qint64>(0, now.sinceBootMs - then.sinceBootMs));
    if (now.wallMs < then.wallMs) return std::nullopt;
    return std::chrono::milliseconds(now.wallMs - then.wallMs);
}

QString RecordedClips::DefaultPath() {
    return sys::StateFolder() + QStringLiteral("/recorded-clips.jsonl");
}

QString RecordedClips::BesidePath(const QString& settingsFile) {
    return QFileInfo(settingsFile).absolutePath() + QStringLiteral("/recorded-clips.jsonl");
}

RecordedClips::RecordedClips(QString path) : path_(std::move(path)) {
    if (path_.isEmpty()) {
        loaded_ = true;
        return;
    }
    worker_ = std::thread([this] { Work(); });
}

RecordedClips::~RecordedClips() {
    {
        std::lock_guard lock(m_);
        stop_ = true;
    }
    work_.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::unique_lock<std::mutex> RecordedClips::Loaded() const {
    std::unique_lock lock(m_);
    read_.wait(lock, [this] { return loaded_; });
    return lock;
}

void RecordedClips::Work() {
    Load();
    std::unique_lock lock(m_);
    for (;;) {
        work_.wait(lock, [this] { return stop_ || !pending_.empty() || RewriteNow(); });
        if (RewriteNow()) {
            Rewrite(lock);
        } else if (!pending_.empty()) {
            AppendPending(lock);
        } else {
            break;
        }
        idle_.notify_all();
    }
    idle_.notify_all();
}

void RecordedClips::Load() {
    // A rewrite killed midway left its copy beside the record.
    RemoveLeftAsides(path_);
    QString why;
    const std::optional<QByteArray> bytes = ReadStateFile(path_, kMaxRecordBytes, &why);
    if (!bytes)
        qCWarning(lcStore).noquote()
            << "Ignoring" << path_ << ":" << why
            << "- the clips recorded so far count as older than those recorded from now on";
    const QByteArray all = bytes.value_or(QByteArray());
    std::vector<NotedLine> lines;
    size_t linesInFile = 0;
    bool torn = false;
    bool trusted = true;
    uint64_t last = 0;
    for (qsizetype at = 0; at < all.size();) {
        qsizetype end = at;
        while (end < all.size() && all[end] != '\n' && all[end] != '\0') ++end;
        // Only a line ended by its newline is whole: a NUL (blocks a crash
        // never wrote) or the end of the file tore it.
        const bool whole = end < all.size() && all[end] == '\n';
        if (end > at) {
            if (whole) ++linesInFile;
            std::optional<NotedLine> line =
                whole ? Parse(all.mid(at, end - at)) : std::optional<NotedLine>();
            if (line) {
                trusted = trusted && line->sequence && *line->sequence > last;
                if (line->sequence) last = *line->sequence;
                lines.push_back(std::move(*line));
            } else {
                const QByteArray broken = all.mid(at, end - at);
                if (auto salvaged = Salvage(broken)) {
                    salvaged->sequence = last + 1;
                    last = *salvaged->sequence;
                    lines.push_back(std::move(*salvaged));
                }
                // Earlier versions went on writing on the torn line's end:
                // the line glued there is whole.
                const qsizetype glued = broken.lastIndexOf("{\"");
                if (auto next = whole && glued > 0 ? Parse(broken.mid(glued)) : std::nullopt) {
                    trusted = trusted && next->sequence && *next->sequence > last;
                    if (next->sequence) last = *next->sequence;
                    lines.push_back(std::move(*next));
                }
                torn = true;
            }
        }
        torn = torn || !whole;
        at = end + 1;
    }
    if (torn)
        qCInfo(lcStore).noquote() << "Ignoring what a tear left in" << path_
                                  << "- it is written anew";
    // Lines are only ever added in the order clips are recorded: numbers out
    // of range, repeated or going back lose to that order.
    if (!trusted)
        qCWarning(lcStore).noquote()
            << "The numbers in" << path_
            << "cannot be trusted: its clips are numbered again in the order they were noted";

    // Nothing else touches the record until it is loaded.
    std::lock_guard lock(m_);
    QHash<QString, QString> boots;  // one copy of each boot's id, shared by its clips
    for (size_t i = 0; i < lines.size(); ++i) {
        NotedLine& line = lines[i];
        const uint64_t sequence = trusted ? *line.sequence : i + 1;
        line.started.boot = boots.value(line.started.boot, line.started.boot);
        boots.insert(line.started.boot, line.started.boot);
        QHash<QString, Entry>& folder = clips_[FolderPart(line.file)];
        if (!folder.contains(NamePart(line.file))) ++count_;
        folder.insert(NamePart(line.file), Entry{sequence, line.started});
        if (Dated(line.started)) latest_ = line.started;
        next_ = sequence + 1;
    }
    linesInFile_ = linesInFile;
    rewriteDue_ = torn || !trusted;
    newline_ = torn;
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
    if (next_ > kMaxSequence) Renumber();
    const QString folder = FolderPart(file);
    const QString name = NamePart(file);
    const Entry e{next_++, started};
    latest_ = started;
    QHash<QString, Entry>& names = clips_[folder];
    if (!names.contains(name)) ++count_;
    names.insert(name, e);
    if (!path_.isEmpty()) {
        pending_.push_back(Line(Join(folder, name), e.sequence, e.started));
        work_.notify_all();
    }
    return RecordedClip{file, e.sequence, e.started};
}

void RecordedClips::Renumber() {
    std::vector<Entry*> order;
    order.reserve(count_);
    for (auto& [folder, names] : clips_)
        for (auto it = names.begin(); it != names.end(); ++it) order.push_back(&*it);
    std::sort(order.begin(), order.end(),
              [](const Entry* a, const Entry* b) { return a->sequence < b->sequence; });
    next_ = 1;
    for (Entry* e : order) e->sequence = next_++;
    rewriteDue_ = true;
    qCWarning(lcStore).noquote() << "The clips in" << path_
                                 << "are numbered again: their numbers ran out";
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
    if (e == it->second.cend() || !Dated(e->started)) return std::nullopt;
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

std::vector<RecordedClip> RecordedClips::Ordered(const Folders& clips) {
    std::vector<RecordedClip> all;
    for (const auto& [folder, names] : clips)
        for (auto it = names.cbegin(); it != names.cend(); ++it)
            all.push_back({Join(folder, it.key()), it->sequence, it->started});
    std::sort(all.begin(), all.end(),
              [](const RecordedClip& a, const RecordedClip& b) { return a.sequence < b.sequence; });
    return all;
}

std::vector<RecordedClip> RecordedClips::All() const {
    const auto lock = Loaded();
    return Ordered(clips_);
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

void RecordedClips::Flush() {
    auto lock = Loaded();
    // A rewrite held off until later is not waited for.
    idle_.wait(lock, [this] {
        return path_.isEmpty() || (pending_.empty() && !writing_ && !(rewriteDue_ && !retryAt_));
    });
}

int RecordedClips::Rewrites() const {
    const auto lock = Loaded();
    return rewrites_;
}

void RecordedClips::CompactIfDue() {
    if (path_.isEmpty() || linesInFile_ <= 2 * count_ + kSlack) return;
    rewriteDue_ = true;
    work_.notify_all();
}

bool RecordedClips::RewriteNow() const {
    return rewriteDue_ && (!retryAt_ || Clock::now() >= *retryAt_);
}

void RecordedClips::Rewrite(std::unique_lock<std::mutex>& lock) {
    for (auto it = clips_.begin(); it != clips_.end();)
        it = it->second.isEmpty() ? clips_.erase(it) : std::next(it);
    // A copy shares the folders' clips until they change: cheap to take,
    // and what waits to be added is in it.
    const Folders copy = clips_;
    pending_.clear();
    // Anything that wants one meanwhile wants another.
    rewriteDue_ = false;
    writing_ = true;
    ++rewrites_;
    lock.unlock();
    const std::vector<RecordedClip> clips = Ordered(copy);
    QByteArray all;
    for (const RecordedClip& clip : clips) all += Line(clip.file, clip.sequence, clip.started);
    QString why;
    QString replaced;
    const bool written = ReplaceStateFile(path_, all, &why, &replaced);
    lock.lock();
    writing_ = false;
    if (!written) {
        rewriteDue_ = true;
        retryAt_ = Clock::now() + kRetryRewrite;
        Complain(why);
        return;
    }
    linesInFile_ = clips.size();
    retryAt_.reset();
    newline_ = false;
    complained_ = false;
    if (!replaced.isEmpty())
        qCWarning(lcStore).noquote()
            << path_ << "was" << replaced + QStringLiteral(": replaced by the record itself");
}

void RecordedClips::AppendPending(std::unique_lock<std::mutex>& lock) {
    QByteArray lines = newline_ ? QByteArray("\n") : QByteArray();
    for (const QByteArray& line : pending_) lines += line;
    const size_t count = pending_.size();
    pending_.clear();
    writing_ = true;
    lock.unlock();
    QString why;
    const bool written = AppendStateFile(path_, lines, &why);
    lock.lock();
    writing_ = false;
    if (!written) {
        // The lines are missing, and a part of them may be there. Something
        // else at the name (a link, a FIFO) is replaced by the rewrite.
        appendFailed_ = true;
        newline_ = true;
        rewriteDue_ = true;
        Complain(why);
        return;
    }
    linesInFile_ += count;
    newline_ = false;
    // The disk takes lines again: what it refused goes in now.
    if (appendFailed_) retryAt_.reset();
    appendFailed_ = false;
    if (!rewriteDue_) complained_ = false;
    CompactIfDue();
}

void RecordedClips::Complain(const QString& why) {
    if (complained_) return;
    complained_ = true;
    qCWarning(lcStore).noquote() << "Cannot note the order clips are recorded in, in" << path_
                                 << ":" << why
                                 << "- after a restart the clips recorded now count as the oldest";
}

}  // namespace camwarden::store
