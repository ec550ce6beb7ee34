#pragma once

namespace camwarden {

// True when standard error goes straight to the systemd journal, which
// stamps each line itself (a session's launcher connects it so).
bool StderrIsJournal();

}  // namespace camwarden
