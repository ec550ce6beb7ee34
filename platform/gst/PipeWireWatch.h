#pragma once

#include <functional>
#include <memory>

namespace camwarden::capgst {

// A connection of our own to the PipeWire daemon, kept only to hear when it
// drops (the daemon ended or restarted) and when it can be made again.
// GStreamer's PipeWire provider goes silent when its daemon goes, so a
// camera that comes back would otherwise never be listed again.
class PipeWireWatch {
public:
    // Called on the watch's own thread: false when the connection dropped,
    // true once a new one answers. Each change is reported once.
    using Handler = std::function<void(bool connected)>;

    // Null when PipeWire is not there (or this build has no PipeWire).
    static std::unique_ptr<PipeWireWatch> Start(Handler handler);
    // A new socket connected to the daemon, where PipeWire's own clients
    // look for it, for a client to speak through; -1 when there is none.
    static int NewConnection();
    static void CloseConnection(int fd);
    ~PipeWireWatch();
    PipeWireWatch(const PipeWireWatch&) = delete;
    PipeWireWatch& operator=(const PipeWireWatch&) = delete;

private:
    struct Impl;
    explicit PipeWireWatch(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace camwarden::capgst
