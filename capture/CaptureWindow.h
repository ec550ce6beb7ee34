#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

namespace camwarden {

// The capture settings block, field for field as the capture layer keeps it
// (22 four-byte fields, 88 bytes). Booleans are kept as 32-bit values so a
// block read from the layer and written back is unchanged bit for bit.
struct CaptureParms {
    uint32_t dwRequestMicroSecPerFrame = 66667;
    int32_t fMakeUserHitOKToCapture = 0;
    uint32_t wPercentDropForError = 10;
    int32_t fYield = 0;
    uint32_t dwIndexSize = 0;
    uint32_t wChunkGranularity = 0;
    int32_t fUsingDOSMemory = 0;
    uint32_t wNumVideoRequested = 0;
    int32_t fCaptureAudio = 1;
    uint32_t wNumAudioRequested = 0;
    uint32_t vKeyAbort = 0x1B;  // Escape
    int32_t fAbortLeftMouse = 1;
    int32_t fAbortRightMouse = 1;
    int32_t fLimitEnabled = 0;
    uint32_t wTimeLimit = 0;  // seconds, honoured when fLimitEnabled
    int32_t fMCIControl = 0;
    int32_t fStepMCIDevice = 0;
    uint32_t dwMCIStartTime = 0;
    uint32_t dwMCIStopTime = 0;
    int32_t fStepCaptureAt2x = 0;
    uint32_t wStepCaptureAverageFrames = 0;
    uint32_t dwAudioBufferSize = 0;

    friend bool operator==(const CaptureParms&, const CaptureParms&) = default;
};
static_assert(sizeof(CaptureParms) == 88, "the block keeps its 88-byte form");

// One hidden capture window. Each method is one request the program sends;
// the result is what the request answers (false = 0). Requests never throw.
class CaptureWindow {
public:
    virtual ~CaptureWindow() = default;

    virtual bool DriverConnect(int driverIndex) = 0;
    virtual bool DriverDisconnect() = 0;
    // Also answers whether the connected device is still there.
    virtual bool SetPreview(bool on) = 0;
    virtual bool SetCaptureFile(const QString& path) = 0;
    virtual bool GetSequenceSetup(CaptureParms& parms) = 0;
    // nullptr stands for a block of size 0, which leaves the setup in force.
    virtual bool SetSequenceSetup(const CaptureParms* parms) = 0;
    // How long the program means the next clip to last. It ends nothing
    // (Stop does); the window judges by it whether the folder has room.
    virtual void SetClipLength(int32_t seconds) { (void)seconds; }
    // What the clips in `folder` may take, in bytes (0: no limit): the
    // oldest are deleted before a clip starts to keep within it. The window
    // may read a limited folder at once, so its next clip need not wait.
    virtual void SetFolderLimit(const QString& folder, int64_t bytes) {
        (void)folder;
        (void)bytes;
    }
    // Whether the next clip's frames show the time each was taken.
    virtual void SetTimeStamp(bool on) { (void)on; }
    // Starts background capture into the capture file and returns at once.
    // A clip still being captured is finished first, so each request gets
    // its own file. False when the request is refused outright (no camera,
    // no file); a start that fails later is reported as a failed clip.
    virtual bool Sequence() = 0;
    // Ends the running clip; its file is finished (possibly just after return).
    virtual bool Stop() = 0;
    virtual bool DlgVideoSource() = 0;
    virtual bool DlgVideoFormat() = 0;
    virtual bool DlgVideoCompression() = 0;
    // The window's close request: a running clip is finished, the device released.
    virtual void Close() = 0;
};

// Creates capture windows; outlives them so that clips still being finished
// after a window is gone are waited for when the program quits.
class CaptureSystem {
public:
    // `latest`: no clip has been asked for since the one that failed.
    using ClipFailedHandler =
        std::function<void(const QString& file, const QString& why, bool latest)>;

    virtual ~CaptureSystem() = default;
    // Ends every clip, waiting a bounded time; false when one would not end
    // (a camera or folder that no longer answers) and was left as it is.
    virtual bool Shutdown() { return true; }
    // Clips in `folder` (as a clip's name is put after it) recorded more than
    // `days` ago are deleted, whether or not a capture window is there or
    // anything records; 0 days: no limit. Returns at once.
    virtual void SetAgeLimit(const QString& folder, int days) {
        (void)folder;
        (void)days;
    }
    // nullptr when no window can be made.
    virtual std::unique_ptr<CaptureWindow> CreateCaptureWindow(const QString& name,
                                                               QWidget* owner) = 0;
    // Called on the thread that made the system, once for every clip that
    // fails: one that cannot start, or one that ends by a failure (disk
    // full, camera gone or silent, file removed) rather than by a stop. An
    // empty handler stops the calls.
    virtual void SetClipFailedHandler(ClipFailedHandler handler) = 0;
};

}  // namespace camwarden
