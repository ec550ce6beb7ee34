#pragma once

#include <QString>
#include <cstdint>

class QFileDevice;

namespace camwarden::capgst {

struct AviRepair {
    bool ok = false;
    uint64_t frames = 0;  // whole frames the file holds afterwards
    QString error;
};

// Makes an AVI file whose writer was cut off (disk full, stream never
// ended) playable where it lies: every whole frame is kept, the rest is cut,
// and the index and the frame counts of the header are written. When the
// disk has no room for the index, frames are given up from the end until it
// fits. The device must be open for reading and writing.
AviRepair RepairAvi(QFileDevice& file);

}  // namespace camwarden::capgst
