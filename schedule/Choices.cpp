#include "schedule/Choices.h"

#include "app/VbConvert.h"

#include <QString>
#include <array>

namespace camwarden {
namespace {

constexpr std::array<Choice, 13> kIntervals{{
    {"Record every 10 seconds", 10},
    {"Record every 30 seconds", 30},
    {"Record every 1 minute", 60},
    {"Record every 5 minutes", 300},
    {"Record every 10 minutes", 600},
    {"Record every 15 minutes", 900},
    {"Record every 20 minutes", 1200},
    {"Record every 30 minutes", 1800},
    {"Record every 1 hour", 3600},
    {"Record every 2 hours", 7200},
    {"Record every 4 hours", 14400},
    {"Record every 8 hours", 28800},
    {"Record every 24 hours", 86400},
}};

constexpr std::array<Choice, 10> kLengths{{
    {"5 seconds", 5},
    {"10 seconds", 10},
    {"30 seconds", 30},
    {"1 minute", 60},
    {"5 minutes", 300},
    {"10 minutes", 600},
    {"15 minutes", 900},
    {"30 minutes", 1800},
    {"1 hour", 3600},
    {kCustomLength, 0},
}};

}  // namespace

std::span<const Choice> IntervalChoices() {
    return kIntervals;
}
std::span<const Choice> LengthChoices() {
    return kLengths;
}

int32_t IntervalSecondsFor(const QString& text) {
    for (const Choice& c : kIntervals)
        if (text == QLatin1String(c.text)) return c.seconds;
    return 0;
}

std::optional<int32_t> LengthSecondsFor(const QString& text) {
    if (text == QLatin1String(kCustomLength)) return std::nullopt;
    for (const Choice& c : kLengths)
        if (text == QLatin1String(c.text)) return c.seconds;
    return 0;
}

int32_t CustomMinutesToSeconds(const QString& answer) {
    return MulInt16(CInt(answer), 60);
}

}  // namespace camwarden
