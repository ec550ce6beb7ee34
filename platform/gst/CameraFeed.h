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
    // Called when the camera fails while a clip takes its frames; it must
    // not call back into the feed.
    using LostHandler = std::function<void(const QString& why)>;

    // Whether clips from this camera go through a feed.
    static bool Wanted(const Camera& camera);
    CameraFeed(const CameraFeed&) = delete;
    CameraFeed& operator=(const CameraFeed&) = delete;
    ~CameraFeed();

    // The element a clip links where the camera's source would be.
    GstElementPtr MakeSource() const;
    // Frames go to this source from now on, until the clip lets go; `lost`
    // is told if the camera fails meanwhile.
    void Attach(GstElement* source, LostHandler lost);
    // The clip that took frames through `source` lets go of the feed. One
    // that ended well keeps the connection open for the next clip; a failed
    // clip does not extend its life.
    static void LetGo(std::shared_ptr<CameraFeed> feed, GstElement* source, bool endedWell);
    // No frame has come from the camera for `bound`.
    bool SilentFor(std::chrono::milliseconds bound) const;
    // The camera failed, went or stopped delivering: the connection is
    // closed at once and the next clip opens a new one.
    void Break(const QString& why);

private:
    friend class CameraFeeds;
    using Clock = std::chrono::steady_clock;

    CameraFeed(Camera camera, GstCapsPtr caps, std::function<void(bool used)> changed);
    bool Start(const QMap<QString, int>& controls, QString* error);
    bool Matches(const Camera& camera, const GstCaps* caps) const;
    // Closes the connection; not on one of its own streaming threads.
    void Shut();
    static GstFlowReturn OnSample(GstElement* sink, gpointer self);
    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer self);

    Camera camera_;
    GstCapsPtr caps_;
    GstElementPtr pipeline_;
    std::atomic<bool> broken_{false};
    std::atomic<Clock::rep> lastFrame_;  // since the clock's epoch
    std::mutex shutM_;                   // held while the connection closes
    bool shut_ = false;
    std::mutex m_;
    GstElementPtr target_;  // the attached clip's source
    LostHandler lost_;
    // Tells the keeper: a clip let go (used: it ended well), or it broke.
    std::function<void(bool used)> changed_;
};

// Keeps the latest feed open while clips follow each other, and closes it on
// a thread of its own once no clip has used it for a while, or at once when
// it breaks or the cameras are released.
class CameraFeeds {
public:
    // How long a feed no clip uses is kept open for the next one, by default.
    static constexpr std::chrono::seconds kIdle{60};

    explicit CameraFeeds(std::chrono::milliseconds idle = kIdle);
    ~CameraFeeds();
    CameraFeeds(const CameraFeeds&) = delete;
    CameraFeeds& operator=(const CameraFeeds&) = delete;

    // The open feed for this camera in this format, or a new one; null when
    // the camera cannot be opened.
    std::shared_ptr<CameraFeed> Open(const Camera& camera, const GstCaps* caps,
                                     const QMap<QString, int>& controls, QString* error);

    // The camera is gone: its feed breaks, and is closed on the keeper's thread.
    void Gone(const Camera& camera);
    // Closes every feed now, on the caller's thread, whoever holds it.
    void CloseAllNow(const QString& why);
    // Closes the kept feed as soon as no clip holds it (the camera was
    // turned off); a clip opened later keeps its own again.
    void Release();
    // Closes the kept feed once no clip holds it, waiting at most `bound`:
    // a camera's provider should not see its device list go first.
    bool Close(std::chrono::milliseconds bound);

private:
    struct State;
    std::shared_ptr<State> state_;  // feeds reach it weakly, so they may outlive this
    std::thread closer_;
};

}  // namespace camwarden::capgst
