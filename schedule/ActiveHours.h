#pragma once

#include <QString>
#include <QTime>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace camwarden {

// The hours and days clips are recorded in. A span opens at `from` on a
// ticked day and ends at `to` (not included): the same day, the next when
// `to` is earlier, a whole day when they are equal.
struct ActiveHours {
    QTime from{8, 0};
    QTime to{18, 0};
    std::array<bool, 7> days{true, true, true, true, true, true, true};  // Monday first

    friend bool operator==(const ActiveHours&, const ActiveHours&) = default;
};

// The local zone's offset from UTC in seconds at an instant (seconds since
// 1970, UTC).
using UtcOffsetAt = std::function<int(int64_t utcSeconds)>;
// The system's own zone.
int LocalOffsetAt(int64_t utcSeconds);

// Where an instant (ms since 1970, UTC) stands. Inside a span: its opening
// and end; outside: the next span's, none when no day is ticked.
struct SpanPlace {
    bool inside = false;
    std::optional<int64_t> openingMs;
    int64_t endMs = 0;
};

// Wall times that do not exist one day (the clock springs forward) are
// reached at the first time that does; times that occur twice count at the
// first.
SpanPlace PlaceIn(const ActiveHours& hours, int64_t nowMs, const UtcOffsetAt& offsetAt);

// PlaceIn for a tick every second: the place is worked out again only when
// the hours change, a span opens or ends, the wall clock goes back, or a
// minute has passed (the zone's rules may have changed).
class SpanCache {
public:
    const SpanPlace& At(const ActiveHours& hours, int64_t nowMs, const UtcOffsetAt& offsetAt);

private:
    std::optional<ActiveHours> hours_;
    int64_t atMs_ = 0;
    SpanPlace place_;
};

// "hh:mm:ss", and "N days " before it when a day or more.
QString ClockWithDays(int64_t seconds);

// The stored forms: "HH:MM" (24-hour), seven "0" or "1" Monday first. None
// when a stored text is not one.
std::optional<QTime> ActiveTimeFrom(const QString& stored);
QString ActiveTimeText(QTime time);
std::optional<std::array<bool, 7>> ActiveDaysFrom(const QString& stored);
QString ActiveDaysText(const std::array<bool, 7>& days);

}  // namespace camwarden
