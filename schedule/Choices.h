#pragma once

#include <cstdint>
#include <optional>
#include <span>

class QString;

namespace camwarden {

struct Choice {
    const char* text;
    int32_t seconds;
};

inline constexpr char kIntervalHeader[] = "How often would you like to take a webcam videos?";
inline constexpr char kLengthHeader[] = "Length Of Recording";
inline constexpr char kCustomLength[] = "x minutes";
inline constexpr char kCustomPrompt[] = "Use Your Custom Length Of Time To Record In Minutes";
inline constexpr char kLengthTooLong[] =
    "Error. Length of time to record is more than interval you take a webcam videos.";

// Row order is the stored index (from 1): never reorder.
std::span<const Choice> IntervalChoices();
std::span<const Choice> LengthChoices();

// Seconds of the row with exactly this text; 0 when none has it.
int32_t IntervalSecondsFor(const QString& text);
// nullopt for the custom row, whose seconds the user gives.
std::optional<int32_t> LengthSecondsFor(const QString& text);

// The custom answer in minutes turned into seconds, 16-bit as stored
// lengths always were; throws "Type mismatch" or "Overflow".
int32_t CustomMinutesToSeconds(const QString& answer);

}  // namespace camwarden
