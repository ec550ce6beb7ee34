#pragma once

#include <QString>
#include <cstdint>

class QFileDevice;

namespace camwarden::store {

// What became of the file:
//   ok,  changed   repaired: the torn end cut, the indexes and counts written
//   ok, !changed   it was already whole; not a byte was written
//  !ok, !changed   left exactly as it was: not understood, not writable, or
//                  no room for even an empty index; error says which
//  !ok,  changed   writing failed partway; error says why
struct AviRepair {
    bool ok = false;
    bool changed = false;
    // Not ok for want of room or a write the disk refused: a later try may
    // finish it, whenever it was cut off.
    bool retry = false;
    uint64_t frames = 0;  // whole frames the file holds afterwards; 0 unless ok
    // Stretches where no whole frame could be read (zeroed, overwritten),
    // passed over; their bytes.
    uint64_t damaged = 0;
    uint64_t damagedBytes = 0;
    QString error;
};

// Makes an AVI file that the muxer did not finish (disk full, stream never
// ended, program killed) playable where it lies, in every RIFF segment it
// wrote: every whole frame is kept, only the torn end is cut, and the
// indexes and frame counts are written the way the muxer writes them when it
// finishes. A stretch where no whole chunk can be read (zeroed or
// overwritten by a power cut) in the segment being written is passed over
// to the next frame and becomes JUNK; one in a segment the muxer had closed
// leaves the file as it was. When the disk has no room for the index,
// frames are given up from the end until it fits; a repair cut off at any
// moment is finished by the next. Nothing is written before the whole file
// has been understood, and only chunk headers, the first bytes of frames
// and indexes are read, except where the file is damaged. The device must
// be open for reading and writing; a buffered device is bypassed, so seek it
// before reading it again.
AviRepair RepairAvi(QFileDevice& file);

}  // namespace camwarden::store
