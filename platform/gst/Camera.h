#pragma once

#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/gst/CaptureSettings.h"
#include "platform/gst/GstPtr.h"

namespace camwarden::capgst {

// A video capture device (/dev/videoN), or the built-in live test camera.
// "test" acts as a camera that only delivers raw video (YUY2); "test-mjpeg"
// acts as the usual webcam that offers MJPEG besides raw video, so the
// Video Parameters choice decides whether its MJPEG is passed through.
enum class CameraKind { Device, TestRaw, TestMjpeg };

struct Camera {
    CameraKind kind = CameraKind::Device;
    QString path;  // device node, or the test camera's name

    bool IsTest() const { return kind != CameraKind::Device; }
    friend bool operator==(const Camera&, const Camera&) = default;
};

struct DeviceEntry {
    QString path;
    QString card;  // the driver's name for it
};

// Capture-capable devices, lowest /dev/videoN first.
std::vector<DeviceEntry> ListCaptureDevices();
bool IsCaptureDevice(const QString& path, QString* card = nullptr);

Camera CameraFromName(const QString& name);
// The camera to use: the run's own choice, else the saved one, else the
// first capture device; none when there is no device at all.
std::optional<Camera> ResolveCamera(const QString& runChoice, const QString& savedDevice);

// Formats the camera can deliver; null when it cannot be opened.
GstCapsPtr ProbeCameraCaps(const Camera& camera, QString* error);

struct Fraction {
    int num = 0;
    int den = 1;
    friend bool operator==(const Fraction&, const Fraction&) = default;
};

// The request of the sequence setup as a frame rate. Rates meant as whole
// or NTSC rates come out exact, so the file's header states them exactly.
Fraction FrameRateFromMicroSeconds(uint32_t microSecPerFrame);
uint32_t MicroSecondsFromFrameRate(Fraction rate);

// What a clip may be recorded at, whatever was asked: 1 to 120 frames per
// second (15 when the request means nothing).
constexpr int kMaxFramesPerSecond = 120;
Fraction BoundedFrameRate(Fraction rate);

struct ChosenFormat {
    bool mjpeg = false;  // the camera's MJPEG is passed through
    GstCapsPtr sourceCaps;
    int width = 0;
    int height = 0;
    Fraction sourceRate;
    Fraction outputRate;
};

// Whether a clip takes the camera's MJPEG (rather than raw video).
bool OffersMjpeg(const GstCaps* offered);
bool UsesMjpeg(const GstCaps* offered, const DriverSettings& settings);

// Picks what to ask of the camera: its MJPEG when passing through is wanted
// and offered, else raw video in the handiest layout; the chosen size when
// offered, else 640x480, else the camera's first; the rate nearest the
// request, preferring one at least as fast so frames are dropped, not made up.
std::optional<ChosenFormat> ChooseFormat(const GstCaps* offered, const DriverSettings& settings,
                                         Fraction requested);

// Live test cameras share this, so tests can pull the plug.
struct TestCameraState {
    std::atomic<bool> plugged{true};
    // Faults of a clip started from the test camera, as a hanging driver and
    // a broken disk show them: the end of the stream never reaches the file;
    // the file's writer fails to start.
    std::atomic<bool> stallEnd{false};
    std::atomic<bool> sinkFails{false};
    // The MJPEG test camera replays one second of frames compressed once per
    // format, so like a real MJPEG webcam it costs the host nothing to compress.
    std::mutex m;
    std::map<QString, std::shared_ptr<const std::vector<GstBufferPtr>>> mjpegLoops;
};

// The source for one clip. Its output still needs the chosen caps applied.
GstElementPtr MakeCameraSource(const Camera& camera, const ChosenFormat& format,
                               const DriverSettings& settings,
                               const std::shared_ptr<TestCameraState>& testState);

struct PictureControl {
    QString name;   // as GStreamer's v4l2 source names it
    QString label;  // as the driver names it
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int defaultValue = 0;
    int value = 0;
    bool boolean = false;
};
std::vector<PictureControl> QueryPictureControls(const Camera& camera);
QString NormaliseControlName(const QString& driverName);

}  // namespace camwarden::capgst
