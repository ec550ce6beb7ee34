#include "platform/gst/PipeWireWatch.h"

// Built where PipeWire's library is not: a daemon's restart goes unheard.
namespace camwarden::capgst {

struct PipeWireWatch::Impl {};

// The handler is taken by value for the PipeWire build, which keeps it.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::unique_ptr<PipeWireWatch> PipeWireWatch::Start(Handler) {
    return nullptr;
}

int PipeWireWatch::NewConnection() {
    return -1;
}

void PipeWireWatch::CloseConnection(int) {}

PipeWireWatch::PipeWireWatch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PipeWireWatch::~PipeWireWatch() = default;

}  // namespace camwarden::capgst
