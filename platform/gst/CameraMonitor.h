#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/gst/Camera.h"
#include "platform/gst/GstPtr.h"

namespace camwarden::capgst {

// Watches the cameras GStreamer's providers see, from construction on, and
// logs each one that appears or goes.
class CameraMonitor {
public:
    // Called on a provider's thread for every camera that goes.
    using GoneHandler = std::function<void(const Camera&)>;

    explicit CameraMonitor(GoneHandler onGone = {});
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

    GstObjectPtr<GstDeviceMonitor> monitor_;
    GstBusPtr bus_;
    bool started_ = false;
};

}  // namespace camwarden::capgst
