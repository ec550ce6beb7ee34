#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "capture/CaptureWindow.h"
#include "platform/gst/Camera.h"
#include "platform/gst/Clip.h"

namespace camwarden {

namespace capgst {
class CaptureCore;
}

// Initialises GStreamer once for the process; false (with the reason) when
// it cannot be, in which case no capture system can work.
bool InitGStreamer(QString* error = nullptr);

// Capture windows backed by GStreamer pipelines.
//
// `camera` picks the camera for this run: empty = the one chosen in the Video
// Source dialog, or else the first camera GStreamer's device monitor finds; a
// device node such as "/dev/video2" or a camera's name; "test" = the built-in
// live test camera delivering raw video; "test-mjpeg" = the test camera
// acting as an MJPEG webcam (it offers raw video too; the Video Parameters
// dialog decides which is used). Test cameras are plugged in for the run.
// `settingsFile` = an INI file for the dialogs' choices instead of the
// per-user Quillory settings.
class GstCaptureSystem final : public CaptureSystem {
public:
    // Quitting waits this long at most for clips still being finished.
    static constexpr std::chrono::milliseconds kQuitBound{3000};

    explicit GstCaptureSystem(const QString& camera, const QString& settingsFile = {});
    // Shuts down, if that has not been done.
    ~GstCaptureSystem() override;
    GstCaptureSystem(const GstCaptureSystem&) = delete;
    GstCaptureSystem& operator=(const GstCaptureSystem&) = delete;

    std::unique_ptr<CaptureWindow> CreateCaptureWindow(const QString& name,
                                                       QWidget* owner) override;
    void SetClipFailedHandler(ClipFailedHandler handler) override;
    void SetAgeLimit(const QString& folder, int days) override;
    // Waits at most kQuitBound for the clips still being finished.
    bool Shutdown() override;

    // Pulling the test camera's plug takes it out of the device list and
    // ends its clip with an error, as unplugging a webcam does; plugging it
    // in lists it again. The first form acts on this run's test camera, the
    // second on "test" or "test-mjpeg" whatever the run's camera is.
    void SetTestCameraPlugged(bool plugged);
    void SetTestCameraPlugged(const QString& which, bool plugged);
    // The cameras there are now, as the Video Source dialog lists them.
    std::vector<capgst::Camera> Cameras() const;
    // Runs on a capture thread once per clip, when its file is finished.
    void SetClipFinishedHandler(std::function<void(const capgst::ClipReport&)> handler);
    // True when no clip is recording or being finished within `bound`.
    bool WaitUntilIdle(std::chrono::milliseconds bound);

private:
    // On a clip's thread.
    void OnClipFailed(uint64_t clip, const QString& file, const QString& why);

    // Failures are handed over on the thread that made the system; posts
    // still pending when it goes are dropped with this.
    std::unique_ptr<QObject> home_ = std::make_unique<QObject>();
    const QString runCamera_;
    ClipFailedHandler onFailed_;  // used on that thread only
    std::shared_ptr<capgst::CaptureCore> core_;
};

// For main(): the capture system for the --camera argument; null (after
// logging why) when GStreamer cannot be initialised.
std::unique_ptr<CaptureSystem> MakeGstCaptureSystem(const QString& cameraArg);

}  // namespace camwarden
