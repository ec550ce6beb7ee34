#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/gst/Camera.h"
#include "platform/gst/CaptureSettings.h"
#include "platform/gst/ClipFile.h"
#include "platform/gst/GstPtr.h"

namespace camwarden::capgst {

using SteadyTime = std::chrono::steady_clock::time_point;

struct ClipPlan {
    Camera camera;
    ChosenFormat format;
    DriverSettings settings;
    QString file;                   // the name asked for; a taken name gets a number
    uint32_t timeLimitSeconds = 0;  // 0: until stopped
    // The test camera's, for its fault switches; null for any other camera.
    std::shared_ptr<TestCameraState> testState;
};

// What became of one clip, once its file is finished.
struct ClipReport {
    QString file;
    uint64_t frames = 0;
    Fraction rate;
    double seconds = 0;   // the file's length: frames at the clip's rate
    long long bytes = 0;  // what the file holds
    QString error;        // empty when the clip ended as asked
    SteadyTime requested;
    std::optional<SteadyTime> firstFrame;  // reached the muxer
    std::optional<SteadyTime> finishRequested;
    SteadyTime finished;
};

// One clip: its own pipeline from camera to file. The worker thread of the
// capture system drives its ending; nothing here blocks on the UI thread
// except the short check that the clip has started.
class Clip {
public:
    using Wake = std::function<void()>;

    // Null when the pipeline cannot start; *error says why.
    static std::shared_ptr<Clip> Start(ClipPlan plan, Wake wake, QString* error);
    ~Clip();
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    // Asks for the file to be finished; returns at once.
    void RequestFinish();
    bool IsRecording() const;
    bool IsDone() const;
    const Camera& camera() const { return plan_.camera; }

    // Worker side. Moves the ending on and answers when it next needs a
    // look; nullopt once the file is finished.
    std::optional<SteadyTime> Service(SteadyTime now);
    // Ends the clip now, finished or not (quitting ran out of time).
    void ForceEnd();
    ClipReport Report() const;

    static constexpr std::chrono::milliseconds kFinishBound{2000};

private:
    enum class State { Recording, Finishing, Done };

    Clip(ClipPlan plan, Wake wake);
    bool Build(QString* error);
    void Finalize();
    // After the pipeline has stopped: repairs a file that was not closed
    // properly, notices one that vanished, drops one without a frame.
    void SettleFile(bool closedProperly);

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer self);
    static GstPadProbeReturn OnFrame(GstPad*, GstPadProbeInfo*, gpointer self);

    ClipPlan plan_;
    Wake wake_;
    std::unique_ptr<ClipFile> file_;  // outlives the pipeline writing into it
    GstElementPtr pipeline_;
    GstElement* source_ = nullptr;  // owned by the pipeline
    GstElement* mux_ = nullptr;     // owned by the pipeline
    GstElement* sink_ = nullptr;    // owned by the pipeline
    GstPadPtr muxPad_;
    uint64_t limitFrames_ = 0;

    mutable std::mutex m_;
    std::condition_variable started_;
    State state_ = State::Recording;
    bool playing_ = false;  // the pipeline has reached PLAYING
    bool eos_ = false;
    bool eosSent_ = false;
    bool errorNeedsEos_ = false;
    bool sinkFailed_ = false;
    bool limitReached_ = false;
    QString error_;
    SteadyTime requested_;
    std::optional<SteadyTime> firstFrame_;
    std::optional<SteadyTime> finishRequested_;
    SteadyTime deadline_;
    SteadyTime finished_;
    std::atomic<uint64_t> frames_{0};
    long long bytes_ = 0;
};

}  // namespace camwarden::capgst
