#pragma once

namespace camwarden {

class Form1;

namespace SaveSS {
// Ends the running clip and hands the timing back to the schedule.
void SaveAll(Form1& form);
}  // namespace SaveSS

}  // namespace camwarden
