#pragma once

#include <QString>
#include <cstdint>

// What the store asks of the operating system beyond its files; the build
// links the platform's answer (platform/posix, platform/win).
namespace camwarden::store::sys {

// The folder of the program's own state: the list of clips being recorded,
// the record of recorded ones, and the log where the system gives a window
// program no other.
QString StateFolder();

// Milliseconds since the machine started, a suspend included: a clock that
// no one sets and that does not stop while the program is stopped.
int64_t SinceBootMs();

// What tells this boot from every other, as text; empty where the system
// names none. Boot clock readings compare only within one boot.
QString BootId();

}  // namespace camwarden::store::sys
