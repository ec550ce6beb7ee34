#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/gst/Camera.h"
#include "platform/gst/GstPtr.h"

namespace camwarden::capgst {

class PipeWireWatch;

// Watches the cameras GStreamer's providers see, from construction on, and
// logs each one that appears or goes. When the PipeWire daemon restarts,
// its cameras count as gone until it is back, and are then looked for anew.
class CameraMonitor {
public:
    // Called on a provider's thread for every camera that goes.
    using GoneHandler = std::function<void(const Camera&)>;

    // `releasePipeWire` is called, on a thread of the monitor's own, when
    // the PipeWire daemon has gone: whatever still holds a connection to it
    // must let go before the monitor connects anew.
    explicit CameraMonitor(GoneHandler onGone = {}, std::function<void()> releasePipeWire = {});
    ~CameraMonitor();
    CameraMonitor(const CameraMonitor&) = delete;
    CameraMonitor& operator=(const CameraMonitor&) = delete;

    // Stops watching: cameras that go from now on, such as the test cameras
    // a run takes down as it ends, are neither logged nor handed on.
    void Stop();

    // The cameras there now, one per physical camera.
    std::vector<Camera> Cameras() const;

private:
    static GstBusSyncReply OnMessage(GstBus*, GstMessage* msg, gpointer gone);
    void WatchPipeWire();
    // On the restarter's thread.
    void PipeWireChanged(bool connected);

    GstObjectPtr<GstDeviceMonitor> monitor_;
    GstBusPtr bus_;
    bool started_ = false;
    std::shared_ptr<const GoneHandler> onGone_;
    std::function<void()> releasePipeWire_;

    // The monitor's PipeWire provider, when it runs one, how many times it
    // is started (see StopIsFaulty), and the connection it was last started on.
    GstObjectPtr<GstDeviceProvider> pipeWire_;
    bool pipeWireStopIsFaulty_ = false;
    int pipeWireStarts_ = 0;
    int pipeWireFd_ = -1;
    std::unique_ptr<PipeWireWatch> watch_;
    std::thread restarter_;
    mutable std::mutex m_;
    std::condition_variable changed_;
    std::deque<bool> news_;  // from the watch: connected or not
    bool stopping_ = false;
    bool pipeWireAway_ = false;  // its provider's list is stale
};

}  // namespace camwarden::capgst
