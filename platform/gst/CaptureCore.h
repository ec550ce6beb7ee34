#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/gst/Camera.h"
#include "platform/gst/CameraMonitor.h"
#include "platform/gst/CaptureSettings.h"
#include "platform/gst/Clip.h"

namespace camwarden::capgst {

// What the capture system and its windows share: the cameras there are, the
// one chosen for this run, the settings, and the clips, each recorded on a
// thread of its own so the UI thread never waits for a camera or a folder.
class CaptureCore {
public:
    using FinishedHandler = std::function<void(const ClipReport&)>;
    using FailedHandler =
        std::function<void(uint64_t clipId, const QString& file, const QString& why)>;

    // GStreamer must be initialised. A test camera named as the run's camera
    // is plugged in. The clips being recorded are noted in `journalFile`
    // (none when empty); those an earlier run left there are repaired. The
    // order clips are recorded in is kept in `recordFile` (in memory only
    // when empty).
    CaptureCore(QString runCamera, SettingsLocation settings, const QString& journalFile = {},
                const QString& recordFile = {});
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

    // Starts the clip on its own thread and returns at once; null after
    // shutdown. A clip that cannot start ends as a failure.
    std::shared_ptr<Clip> StartClip(ClipPlan plan);
    // The connections kept open for the clips to come are closed as soon as
    // no clip holds them (the camera was turned off).
    void ReleaseCameras();
    // Lists, on a thread of its own, a folder whose clips are kept within
    // a size limit, ahead of its next clip.
    void ListFolderAhead(const QString& folder);
    // Clips in `folder` (as a clip's name is put after it) recorded more than
    // `days` ago are deleted, by a thread of the core's own, whether or not
    // anything records; 0 days: no limit.
    void SetAgeLimit(const QString& folder, int days);
    // The id of the latest clip started; 0 before the first.
    uint64_t LatestClip() const;
    bool WaitUntilIdle(std::chrono::milliseconds bound);
    // Finishes every clip, waiting at most `bound`; a clip that has not let
    // go of its camera or folder by then is abandoned as it is. False when
    // one was.
    bool Shutdown(std::chrono::milliseconds bound);

    // Both are called on a clip's thread.
    void SetClipFinishedHandler(FinishedHandler handler);
    void SetClipFailedHandler(FailedHandler handler);

private:
    class Clips;

    const SettingsLocation settings_;
    // Shared with the clips' threads, which may outlive the core.
    const std::shared_ptr<Clips> clips_;
    CameraMonitor monitor_;
    // One per test camera kind, made when first plugged in.
    std::map<TestCameraKind, std::shared_ptr<TestCameraState>> testCameras_;  // UI thread only
    mutable std::mutex m_;
    QString runCamera_;
    bool shutDown_ = false;
    bool abandoned_ = false;
};

}  // namespace camwarden::capgst
