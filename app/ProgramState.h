#pragma once

#include <cstdint>

namespace camwarden {

// The values every part of the program shares for one run.
struct ProgramState {
    int32_t ClipSeconds = 0;      // length of one clip
    int32_t ClipSecondsLeft = 0;  // seconds of the running clip still to record
    int64_t ClipDueMs = 0;        // when the running clip is due to end, by the boot clock; 0: none
    bool HiddenInTray = false;
};

}  // namespace camwarden
