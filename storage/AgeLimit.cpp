#include "storage/AgeLimit.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>

#include "storage/ClipFolder.h"
#include "storage/StateFile.h"
#include "storage/StoreLog.h"

namespace camwarden::store {

namespace {

constexpr qint64 kHourMs = 3'600'000;
constexpr qint64 kMinuteMs = 60'000;

QString Count(qint64 n, const char* unit) {
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(unit)).arg(n == 1 ? "" : "s");
}

// "3 days 2 hours", "5 hours 10 minutes", "1 minute": as precise as a log reader needs.
QString Span(qint64 ms) {
    const qint64 days = ms / AgeLimit::kDayMs;
    const qint64 hours = ms % AgeLimit::kDayMs / kHourMs;
    const qint64 minutes = ms % kHourMs / kMinuteMs;
    if (days > 0)
        return hours > 0 ? Count(days, "day") + ' ' + Count(hours, "hour") : Count(days, "day");
    if (hours > 0)
        return minutes > 0 ? Count(hours, "hour") + ' ' + Count(minutes, "minute")
                           : Count(hours, "hour");
    return Count(minutes, "minute");
}

// The times clips' names give ("SS yyyy-mm-dd hh-mm-ss..."), local time, by
// the wall clock. A folder holds many clips of each day: a day's midnight
// is worked out once, and its clips' times from it, unless the clocks
// change that day.
class NameTimes {
public:
    std::optional<qint64> Of(const QString& name) {
        const auto number = [&](qsizetype at, qsizetype length) {
            return QStringView(name).mid(at, length).toInt();
        };
        const int year = number(3, 4);
        const int month = number(8, 2);
        const int day = number(11, 2);
        const QTime time(number(14, 2), number(17, 2), number(20, 2));
        const auto [it, added] = days_.try_emplace(year * 10000 + month * 100 + day);
        Day& d = it->second;
        if (added) {
            d.date = QDate(year, month, day);
            const QDateTime midnight(d.date, QTime(0, 0));
            const QDateTime last(d.date, QTime(23, 59, 59));
            d.even = midnight.isValid() && last.isValid() &&
                     midnight.offsetFromUtc() == last.offsetFromUtc();
            if (d.even) d.midnight = midnight.toMSecsSinceEpoch();
        }
        if (!d.date.isValid() || !time.isValid()) return std::nullopt;
        if (d.even) return d.midnight + time.msecsSinceStartOfDay();
        const QDateTime t(d.date, time);
        if (!t.isValid()) return std::nullopt;
        return t.toMSecsSinceEpoch();
    }

private:
    struct Day {
        QDate date;
        bool even = false;  // no change of the clocks that day
        qint64 midnight = 0;
    };
    std::map<int, Day> days_;
};

}  // namespace

QString ClockNote::BesideRecord(const QString& recordFile) {
    if (recordFile.isEmpty()) return {};
    return QFileInfo(recordFile).absolutePath() + QStringLiteral("/clock-seen.json");
}

std::optional<ClockNote::Seen> ClockNote::Last() {
    if (read_ || path_.isEmpty()) return last_;
    read_ = true;
    QString why;
    const auto bytes = ReadStateFile(path_, 4096, &why);
    const QJsonObject o = QJsonDocument::fromJson(bytes.value_or(QByteArray())).object();
    // A torn or foreign note is none: the next look starts afresh.
    if (!o.contains(QLatin1String("boot")) || !o.value(QLatin1String("up")).isDouble())
        return last_;
    Seen seen{
        Moment{o.value(QLatin1String("wall")).toInteger(),
               o.value(QLatin1String("boot")).toString(), o.value(QLatin1String("up")).toInteger()},
        std::nullopt};
    if (o.value(QLatin1String("steady")).isDouble())
        seen.steadyAt = o.value(QLatin1String("steady")).toInteger();
    last_ = seen;
    return last_;
}

void ClockNote::Write(const Seen& seen) {
    read_ = true;
    last_ = seen;
    if (path_.isEmpty()) return;
    QJsonObject o{{QStringLiteral("wall"), seen.at.wallMs},
                  {QStringLiteral("boot"), seen.at.boot},
                  {QStringLiteral("up"), seen.at.sinceBootMs}};
    if (seen.steadyAt) o.insert(QStringLiteral("steady"), *seen.steadyAt);
    QString why;
    QString replaced;
    if (ReplaceStateFile(path_, QJsonDocument(o).toJson(QJsonDocument::Compact), &why, &replaced)) {
        complained_ = false;
    } else if (!complained_) {
        complained_ = true;
        qCWarning(lcStore).noquote()
            << "Cannot note the clock in" << path_ << ":" << why
            << "- a jump of the clock while the program is not running may go unseen";
    }
}

AgeLimit::AgeLimit(ClipFolder& clips, RecordedClips* recorded, Clock now, ClockNote* note)
    : clips_(clips), recorded_(recorded), now_(std::move(now)), note_(note) {}

void AgeLimit::Set(const QString& folder, int days) {
    days = std::max(days, 0);
    if (folder == folder_ && days == days_) return;
    folder_ = folder;
    days_ = days;
    due_.reset();
    if (days_ > 0) {
        due_ = std::numeric_limits<qint64>::min();
    } else {
        // Off, the clock is not watched; when on again it is looked at afresh.
        lastLook_.reset();
        steadyAt_.reset();
    }
}

void AgeLimit::Noted(const Moment& started) {
    if (days_ <= 0) return;
    const qint64 due = started.sinceBootMs + days_ * kDayMs + 1;
    due_ = std::min(due_.value_or(due), due);
}

std::optional<std::chrono::milliseconds> AgeLimit::Look(const QStringList& inUse) {
    if (days_ <= 0 || folder_.isEmpty()) return std::nullopt;
    const Moment now = now_();
    WatchClock(now);
    if (due_ && now.sinceBootMs >= *due_) Sweep(now, inUse);
    if (!due_) return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(0, *due_ - now.sinceBootMs));
}

void AgeLimit::WatchClock(const Moment& now) {
    if (!lastLook_) {
        lastLook_ = now;
        // A jump while the program was not running shows against the last
        // moment of this boot it noted: a clip it recorded, or a look at the
        // clock in any run.
        const auto later = [&](const std::optional<Moment>& m) {
            if (m && !m->boot.isEmpty() && m->boot == now.boot &&
                m->sinceBootMs <= now.sinceBootMs &&
                (lastLook_->sinceBootMs == now.sinceBootMs ||
                 m->sinceBootMs > lastLook_->sinceBootMs))
                lastLook_ = m;
        };
        later(recorded_ ? recorded_->Latest() : std::nullopt);
        if (const auto seen = note_ ? note_->Last() : std::nullopt) {
            later(seen->at);
            // A jump seen in an earlier run of this boot is still held.
            if (seen->steadyAt && seen->at.boot == now.boot && *seen->steadyAt > now.sinceBootMs)
                steadyAt_ = seen->steadyAt;
        }
    }
    const qint64 drift =
        (now.wallMs - lastLook_->wallMs) - (now.sinceBootMs - lastLook_->sinceBootMs);
    lastLook_ = now;
    if (std::abs(drift) > kJumpMs) {
        steadyAt_ = now.sinceBootMs + kSteadyMs;
        due_ = std::min(due_.value_or(*steadyAt_), *steadyAt_);
        qCWarning(lcStore).noquote()
            << QStringLiteral(
                   "The clock jumped %1 %2 against the time since the machine started: clips "
                   "whose age only the clock can tell (recorded before the machine started, or "
                   "not by this program) are not deleted by age until it has been steady for an "
                   "hour")
                   .arg(Span(std::abs(drift) + kMinuteMs / 2),
                        drift > 0 ? QStringLiteral("ahead") : QStringLiteral("back"));
    } else if (steadyAt_ && now.sinceBootMs >= *steadyAt_) {
        steadyAt_.reset();
        due_ = now.sinceBootMs;
        qCInfo(lcStore) << "The clock has been steady for an hour: clips are deleted by age again";
    }
    // Any moment of this boot serves to measure a later jump against, so the
    // note is written when it says something new, not at each look (a look
    // may come just before a clip starts). Kept within the hour, so the
    // small corrections of a long boot never add up to a jump.
    const auto last = note_ ? note_->Last() : std::nullopt;
    if (note_ && (!last || last->at.boot != now.boot || last->steadyAt != steadyAt_ ||
                  now.sinceBootMs - last->at.sinceBootMs >= kSteadyMs ||
                  now.sinceBootMs < last->at.sinceBootMs))
        note_->Write({now, steadyAt_});
}

void AgeLimit::Sweep(const Moment& now, const QStringList& inUse) {
    if (!clips_.Prepare(folder_)) {
        due_ = now.sinceBootMs + kAbsentWaitMs;
        return;
    }
    const qint64 limit = days_ * kDayMs;
    const bool held = steadyAt_.has_value();
    qint64 soonest = std::numeric_limits<qint64>::max();  // until the next comes due
    NameTimes names;
    clips_.DeleteWhere(
        inUse,
        [&](const QString& name, const std::optional<Moment>& made) -> std::optional<QString> {
            const std::optional<qint64> wall = made ? std::optional(made->wallMs) : names.Of(name);
            // A name that gives no time (the 30th of February) gives no age.
            if (!wall) return std::nullopt;
            const bool byBootClock = made && !made->boot.isEmpty() && made->boot == now.boot;
            if (held && !byBootClock) return std::nullopt;
            std::optional<qint64> age;  // none: made in the future
            if (made) {
                if (const auto between = TimeBetween(*made, now)) age = between->count();
            } else if (*wall <= now.wallMs) {
                age = now.wallMs - *wall;
            }
            if (age && *age > limit)
                return QStringLiteral("recorded %1 ago, older than the limit of %2")
                    .arg(Span(*age), Span(limit));
            soonest = std::min(soonest, age ? limit - *age : *wall - now.wallMs + limit);
            return std::nullopt;
        });
    due_.reset();
    if (soonest != std::numeric_limits<qint64>::max())
        due_ = now.sinceBootMs + std::max(soonest + 1, kLeastWaitMs);
    // Those held are looked at again once the clock is trusted.
    if (held) due_ = std::min(due_.value_or(*steadyAt_), *steadyAt_);
    qCDebug(lcStore).noquote()
        << QStringLiteral("Looked at the ages of the clips in %1%2; %3")
               .arg(folder_, held ? QStringLiteral(", those the clock dates held") : QString(),
                    due_ ? QStringLiteral("the next look in ") + Span(*due_ - now.sinceBootMs)
                         : QStringLiteral("none is left to come due"));
}

}  // namespace camwarden::store
