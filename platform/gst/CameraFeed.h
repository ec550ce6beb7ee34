#pragma once

#include <QMap>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/gst/Camera.h"
#include "platform/gst/GstPtr.h"

namespace camwarden::capgst {

// One connection to a camera, kept open across the clips that record from
// it. A PipeWire camera is used this way: with GStreamer 1.22 each new
// connection to a node that another program provides may never get a
// frame once an earlier one has left, and its frames carry the provider's
// time rather than the clip's. Each clip takes the frames through its own
// source, stamped when they reach it.
class CameraFeed {
public:
    // Whether clips from this camera go through a feed.
    static bool Wanted(const Camera& camera);
    CameraFeed(const CameraFeed&) = delete;
    CameraFeed& operator=(const CameraFeed&) = delete;
    ~CameraFeed();

    // The element a clip links where the camera's source would be.
    GstElementPtr MakeSource() const;
    // Frames go to this source from now on, until Detach.
    void Attach(GstElement* source);
    void Detach(GstElement* source);

private:
    friend class CameraFeeds;
    CameraFeed(Camera camera, GstCapsPtr caps, std::function<void()> released);
    bool Start(const QMap<QString, int>& controls, QString* error);
    bool Matches(const Camera& camera, const GstCaps* caps) const;
    static GstFlowReturn OnSample(GstElement* sink, gpointer self);
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer self);

    Camera camera_;
    GstCapsPtr caps_;
    GstElementPtr pipeline_;
    std::atomic<bool> broken_{false};
    std::mutex m_;
    GstElementPtr target_;            // the attached clip's source
    std::function<void()> released_;  // a clip let go: the idle time starts again
};

// Keeps the latest feed open while clips follow each other, and closes it on
// a thread of its own once no clip has used it for a while.
class CameraFeeds {
public:
    // How long a feed no clip uses is kept open for the next one.
    static constexpr int kIdleSeconds = 60;

    CameraFeeds();
    ~CameraFeeds();
    CameraFeeds(const CameraFeeds&) = delete;
    CameraFeeds& operator=(const CameraFeeds&) = delete;

    // The open feed for this camera in this format, or a new one; null when
    // the camera cannot be opened.
    std::shared_ptr<CameraFeed> Open(const Camera& camera, const GstCaps* caps,
                                     const QMap<QString, int>& controls, QString* error);

    // Closes the kept feed once no clip holds it, waiting at most `bound`:
    // a camera's provider should not see its device list go first.
    bool Close(std::chrono::milliseconds bound);

private:
    struct State;
    std::shared_ptr<State> state_;  // feeds reach it weakly, so they may outlive this
    std::thread closer_;
};

}  // namespace camwarden::capgst
