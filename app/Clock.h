#pragma once

#include "platform/Os.h"

#include <QDateTime>
#include <cstdint>

namespace camwarden {

class Clock {
public:
    virtual ~Clock() = default;
    // The wall clock, which anyone may set.
    virtual QDateTime Now() = 0;
    // The same in ms since 1970 (UTC), without working out the local time.
    virtual int64_t NowMs() { return Now().toMSecsSinceEpoch(); }
    // Milliseconds by a clock no one sets, which goes on while the program
    // is stopped or the machine asleep.
    virtual int64_t SinceBootMs() = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime Now() override { return QDateTime::currentDateTime(); }
    int64_t NowMs() override { return QDateTime::currentMSecsSinceEpoch(); }
    int64_t SinceBootMs() override { return os::SinceBootMs(); }
};

}  // namespace camwarden
