#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/gst/Camera.h"
#include "platform/gst/CameraFeed.h"
#include "platform/gst/CaptureSettings.h"
#include "platform/gst/GstPtr.h"
#include "storage/ClipFile.h"

namespace camwarden::capgst {

using SteadyTime = std::chrono::steady_clock::time_point;

struct ClipPlan {
    Camera camera;
    ChosenFormat format;
    DriverSettings settings;
    QString file;                   // the name asked for; a taken name gets a number
    uint32_t timeLimitSeconds = 0;  // 0: until stopped
    uint32_t meantSeconds = 0;      // how long the program means it to last, at most; 0: not said
    int64_t folderLimitBytes = 0;   // what the folder's clips may take; 0: no limit
    bool timeStamp = false;         // each frame shows when it was taken
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

// What the latest clip that wrote anything took on disk, per second of
// video, and its length.
struct DiskUse {
    double bytesPerSecond = 0;
    double seconds = 0;
};

class Clip;

// The room a clip needs in its folder: its own length at the latest clip's
// bytes per second, with a margin.
long long RoomNeeded(const ClipPlan& plan, const std::optional<DiskUse>& last);

// What a clip's thread asks of, and tells, the capture system. Called on
// that thread; it may outlive the system when the clip was abandoned.
class ClipHost {
public:
    virtual ~ClipHost() = default;
    // Waits, bounded, until no clip started earlier holds the clip's camera;
    // false when one still does.
    virtual bool WaitForCamera(const Clip& clip, std::chrono::milliseconds bound) = 0;
    virtual std::optional<DiskUse> LastDiskUse() = 0;
    // Deletes the clips past the age limit, when one is set and any are due.
    virtual void ExpireOld() = 0;
    // Deletes the oldest clips in the plan's folder until one of `need`
    // bytes fits within its limit and on its disk; false when the disk
    // cannot be given the room.
    virtual bool MakeRoom(const ClipPlan& plan, int64_t need, QString* why) = 0;
    // The clip's file is made and about to be written into.
    virtual void Began(const QString& file) = 0;
    // The clip's file is finished (or kept as it is) and on the disk.
    virtual void Settled(const QString& file) = 0;
    // Once per clip, as soon as it is known to have failed.
    virtual void Failed(const Clip& clip, const QString& why) = 0;
    // Once per clip, when its file is finished.
    virtual void Finished(const ClipReport& report) = 0;
    // Last: the clip's pipeline is gone and its camera free.
    virtual void Released(const Clip& clip) = 0;
    // The connections kept open to cameras that are recorded through one.
    virtual CameraFeeds& Feeds() = 0;
};

// One clip: its own pipeline from camera to file, driven by a thread of its
// own, so that a camera or a folder that blocks holds up nothing but it.
class Clip {
public:
    // Below this many seconds without a frame a camera is still delivering.
    static constexpr std::chrono::milliseconds kStallFloor{3000};
    // How long the end of a clip may take before its file is closed as it is.
    static constexpr std::chrono::milliseconds kFinishBound{2000};

    Clip(ClipPlan plan, uint64_t id);
    ~Clip();
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    // Runs the clip from opening the camera to releasing it; on the clip's
    // own thread.
    void Run(ClipHost& host);

    // These return at once, from any thread.
    void RequestFinish();
    // Ends the clip as a failure (the camera went away).
    void Fail(const QString& why);
    bool IsRecording() const;

    const Camera& camera() const { return plan_.camera; }
    uint64_t id() const { return id_; }
    // The file asked for, or the one written once it is made.
    QString File() const;
    ClipReport Report() const;

private:
    enum class State { Starting, Recording, Finishing, Done };

    // No frame for this long ends the clip: three frames, and never less
    // than the floor.
    std::chrono::milliseconds StallBound() const;

    bool Build(ClipHost& host, QString* error);
    bool Play(QString* error);
    void Record(ClipHost& host);
    // Closes the file and hands in the report; the pipeline is stopped first
    // unless the muxer already finished the file.
    void Finalize(ClipHost& host);
    // Where the clip's frames are once it is settled.
    enum class Kept { InPlace, Elsewhere, Nowhere };
    // After the muxer is done or the pipeline stopped: repairs a file that
    // was not closed properly (also one moved away, through its
    // descriptor), notices one that is no longer at its path, drops one
    // without a frame.
    Kept SettleFile(bool closedProperly);
    void NoteFailure(ClipHost& host);
    void Stop();
    // Takes the pipeline down and closes the file.
    void Release();

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* msg, gpointer self);
    static GstPadProbeReturn OnFrame(GstPad*, GstPadProbeInfo*, gpointer self);

    ClipPlan plan_;
    const uint64_t id_;
    std::unique_ptr<store::ClipFile> file_;  // outlives the pipeline writing into it
    GstElementPtr pipeline_;
    GstElement* source_ = nullptr;      // owned by the pipeline
    std::shared_ptr<CameraFeed> feed_;  // where source_ takes its frames from, if anywhere
    GstElement* mux_ = nullptr;         // owned by the pipeline
    GstElement* sink_ = nullptr;        // owned by the pipeline
    GstPadPtr muxPad_;
    uint64_t limitFrames_ = 0;

    mutable std::mutex m_;
    std::condition_variable changed_;
    State state_ = State::Starting;
    bool finishAsked_ = false;
    bool playing_ = false;  // the pipeline has reached PLAYING
    bool eos_ = false;
    bool eosSent_ = false;
    bool errorNeedsEos_ = false;
    bool sinkFailed_ = false;
    bool limitReached_ = false;
    bool failureNoted_ = false;
    QString error_;
    SteadyTime requested_;
    SteadyTime lastProgress_;  // the latest frame, or when the camera was asked to play
    std::optional<SteadyTime> firstFrame_;
    std::optional<SteadyTime> finishRequested_;
    SteadyTime deadline_;
    SteadyTime finished_;
    std::atomic<uint64_t> frames_{0};
    long long bytes_ = 0;
};

}  // namespace camwarden::capgst
