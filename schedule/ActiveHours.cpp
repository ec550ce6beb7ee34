#include "schedule/ActiveHours.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

namespace camwarden {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kJulianDayOf1970 = 2440588;

// A wall time as seconds since 1970, read as if it were UTC.
int64_t WallOf(QDate date, QTime time) {
    return (date.toJulianDay() - kJulianDayOf1970) * kDay + time.msecsSinceStartOfDay() / 1000;
}

QDate DateOfWall(int64_t wall) {
    const int64_t days = wall >= 0 ? wall / kDay : -((-wall + kDay - 1) / kDay);
    return QDate::fromJulianDay(days + kJulianDayOf1970);
}

// The first instant at which the wall clock shows `wall` or later.
int64_t FirstAtOrAfter(int64_t wall, const UtcOffsetAt& offsetAt) {
    // No zone changes its offset twice within two days.
    const int before = offsetAt(wall - kDay);
    const int after = offsetAt(wall + kDay);
    std::optional<int64_t> first;
    for (const int offset : {before, after}) {
        const int64_t t = wall - offset;
        if (offsetAt(t) == offset && (!first || t < *first)) first = t;
    }
    if (first) return *first;
    // Skipped: the clock jumps past it at the change, found by halving.
    int64_t lo = wall - std::max(before, after);  // shows less
    int64_t hi = wall - std::min(before, after);  // shows more
    while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        (mid + offsetAt(mid) >= wall ? hi : lo) = mid;
    }
    return hi;
}

}  // namespace

int LocalOffsetAt(int64_t utcSeconds) {
    return QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::LocalTime).offsetFromUtc();
}

SpanPlace PlaceIn(const ActiveHours& hours, int64_t nowMs, const UtcOffsetAt& offsetAt) {
    const int64_t now = nowMs >= 0 ? nowMs / 1000 : -((-nowMs + 999) / 1000);
    const QDate today = DateOfWall(now + offsetAt(now));
    const auto span = [&](QDate opens) {
        const QDate closes = hours.to > hours.from ? opens : opens.addDays(1);
        return std::pair{FirstAtOrAfter(WallOf(opens, hours.from), offsetAt) * 1000,
                         FirstAtOrAfter(WallOf(closes, hours.to), offsetAt) * 1000};
    };
    const auto ticked = [&](QDate d) { return hours.days[size_t(d.dayOfWeek() - 1)]; };
    // A span lasts a day at most (a clock change apart): one opened yesterday may still run.
    for (const QDate d : {today.addDays(-1), today}) {
        if (!ticked(d)) continue;
        const auto [opening, end] = span(d);
        if (opening <= nowMs && nowMs < end) return {true, opening, end};
    }
    for (int ahead = 0; ahead <= 7; ++ahead) {
        const QDate d = today.addDays(ahead);
        if (!ticked(d)) continue;
        const auto [opening, end] = span(d);
        if (opening > nowMs) return {false, opening, end};
    }
    return {};
}

const SpanPlace& SpanCache::At(const ActiveHours& hours, int64_t nowMs,
                               const UtcOffsetAt& offsetAt) {
    constexpr int64_t kRecheckMs = 60000;
    const std::optional<int64_t> next = place_.inside ? place_.endMs : place_.openingMs;
    if (hours_ != hours || nowMs < atMs_ || nowMs - atMs_ >= kRecheckMs ||
        (next && nowMs >= *next)) {
        place_ = PlaceIn(hours, nowMs, offsetAt);
        hours_ = hours;
        atMs_ = nowMs;
    }
    return place_;
}

QString ClockWithDays(int64_t seconds) {
    seconds = std::max<int64_t>(seconds, 0);
    const int64_t days = seconds / kDay;
    QString clock =
        QTime(0, 0).addSecs(static_cast<int>(seconds % kDay)).toString(QStringLiteral("hh:mm:ss"));
    if (days == 0) return clock;
    return QStringLiteral("%1 %2 %3")
        .arg(days)
        .arg(days == 1 ? QStringLiteral("day") : QStringLiteral("days"), clock);
}

std::optional<QTime> ActiveTimeFrom(const QString& stored) {
    static const QRegularExpression form(QStringLiteral("^([01][0-9]|2[0-3]):([0-5][0-9])$"));
    const QRegularExpressionMatch m = form.match(stored);
    if (!m.hasMatch()) return std::nullopt;
    return QTime(m.captured(1).toInt(), m.captured(2).toInt());
}

QString ActiveTimeText(QTime time) {
    return time.toString(QStringLiteral("HH:mm"));
}

std::optional<std::array<bool, 7>> ActiveDaysFrom(const QString& stored) {
    if (stored.size() != 7) return std::nullopt;
    std::array<bool, 7> days{};
    for (size_t i = 0; i < days.size(); ++i) {
        const QChar c = stored[qsizetype(i)];
        if (c != u'0' && c != u'1') return std::nullopt;
        days[i] = c == u'1';
    }
    return days;
}

QString ActiveDaysText(const std::array<bool, 7>& days) {
    QString text;
    for (const bool on : days) text += on ? u'1' : u'0';
    return text;
}

}  // namespace camwarden
