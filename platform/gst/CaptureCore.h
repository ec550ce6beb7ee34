#pragma once

#include <QString>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/gst/Camera.h"
#include "platform/gst/CameraMonitor.h"
#include "platform/gst/CaptureSettings.h"
#include "platform/gst/Clip.h"

namespace camwarden::capgst {

// What the capture system and its windows share: the cameras there are, the
// one chosen for this run, the settings, and the worker thread that ends
// clips and finishes their files so the UI thread never waits for it.
class CaptureCore {
public:
    // GStreamer must be initialised. A test camera named as the run's camera
    // is plugged in.
    CaptureCore(QString runCamera, SettingsLocation settings);
    ~CaptureCore();
    CaptureCore(const CaptureCore&) = delete;
    CaptureCore& operator=(const CaptureCore&) = delete;

    QString RunCamera() const;
    void SetRunCamera(const QString& camera);
    const SettingsLocation& Settings() const { return settings_; }
    std::vector<Camera> Cameras() const { return monitor_.Cameras(); }
    // The camera a clip would use now; none when it is not there.
    std::optional<Camera> ChosenCamera() const;
    // Test cameras come and go as a webcam on its cable does.
    void SetTestCameraPlugged(TestCameraKind kind, bool plugged);
    // The state shared with the sources of that test camera.
    const std::shared_ptr<TestCameraState>& TestCamera(TestCameraKind kind);

    // Null when the clip cannot start, or after shutdown; *error says why.
    std::shared_ptr<Clip> StartClip(ClipPlan plan, QString* error);
    void Finish(const std::shared_ptr<Clip>& clip);
    // Waits for clips of that camera still being finished, so the device
    // is free again.
    void WaitForCamera(const Camera& camera, std::chrono::milliseconds bound);
    bool WaitUntilIdle(std::chrono::milliseconds bound);
    // Finishes every clip, waiting at most `bound` before cutting them off.
    void Shutdown(std::chrono::milliseconds bound);

    void SetClipFinishedHandler(std::function<void(const ClipReport&)> handler);

    // What the latest clip that wrote anything took on disk, per second of
    // video, and its length; nullopt before the first one.
    struct DiskUse {
        double bytesPerSecond = 0;
        double seconds = 0;
    };
    std::optional<DiskUse> LastDiskUse() const;

private:
    void Wake();
    void Run(const std::stop_token& stop);
    template <typename Pred>
    bool WaitDone(std::chrono::milliseconds bound, Pred pred);

    const SettingsLocation settings_;
    const CameraMonitor monitor_;
    // One per test camera kind, made when first plugged in.
    std::map<TestCameraKind, std::shared_ptr<TestCameraState>> testCameras_;  // UI thread only

    mutable std::mutex m_;
    std::condition_variable wakeCv_;
    std::condition_variable doneCv_;
    bool woken_ = false;
    bool shutDown_ = false;
    QString runCamera_;
    std::vector<std::shared_ptr<Clip>> clips_;
    std::function<void(const ClipReport&)> onFinished_;
    std::optional<DiskUse> lastDiskUse_;
    std::jthread worker_;  // last, so it stops before the rest goes
};

}  // namespace camwarden::capgst
