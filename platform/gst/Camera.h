#pragma once

#include <QMap>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "platform/gst/CaptureSettings.h"
#include "platform/gst/GstPtr.h"
#include "platform/gst/TestCamera.h"

namespace camwarden::capgst {

// A camera as GStreamer's device monitor reports it. Whatever provider
// found it (v4l2, PipeWire, libcamera, or another system's own), the clip's
// source is made by the device itself.
struct Camera {
    QString name;      // the display name
    QString path;      // device node, or a test camera's name; may be empty
    QString busPath;   // where it is plugged in; may be empty
    QString serial;    // may be empty
    QString provider;  // the device provider's name
    std::shared_ptr<GstDevice> device;

    bool IsTest() const { return provider == QLatin1String(kTestProviderName); }
    // What a saved choice holds on to beside the name: it stays when the
    // device nodes are numbered anew.
    QString StableId() const { return serial.isEmpty() ? busPath : serial; }
    // The same camera through the same provider, whether or not it has been
    // unplugged and found again since.
    friend bool operator==(const Camera& a, const Camera& b) {
        return a.provider == b.provider && a.path == b.path && a.name == b.name &&
               a.StableId() == b.StableId();
    }
};

Camera CameraFromDevice(GstDevice* device);
// One entry per physical camera: when several providers show the same one,
// v4l2's is kept, else PipeWire's. Ordered by provider, then device node.
std::vector<Camera> DistinctCameras(std::vector<Camera> all);
// The camera to use: the run's own choice (a device node or a camera's
// name), else the saved one, else the first; none when the one asked for
// is not there.
std::optional<Camera> ResolveCamera(const std::vector<Camera>& cameras, const QString& runChoice,
                                    const DriverSettings& saved);
// What to save so that ResolveCamera finds this camera again.
void RememberCamera(const Camera& camera, DriverSettings& settings);

// Formats the camera can deliver; null when it says nothing.
GstCapsPtr CameraCaps(const Camera& camera);

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
// Past this no camera films: a stored rate beyond it was never chosen.
constexpr int kMaxCameraFramesPerSecond = 1000;
bool PlausibleFrameRate(Fraction rate);
// A faster rate than the bound above is kept when the camera offers it.
Fraction FrameRateFor(const GstCaps* offered, Fraction requested);

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
bool OffersRaw(const GstCaps* offered);
bool UsesMjpeg(const GstCaps* offered, const DriverSettings& settings);

// Picks what to ask of the camera: its MJPEG when passing through is wanted
// and offered, else raw video in the handiest layout; the chosen size when
// offered, else 640x480, else the camera's first; the rate nearest the
// request, preferring one at least as fast so frames are dropped, not made up.
std::optional<ChosenFormat> ChooseFormat(const GstCaps* offered, const DriverSettings& settings,
                                         Fraction requested);

// The source for one clip, made by the device. Its output still needs the
// chosen caps applied.
GstElementPtr MakeCameraSource(const Camera& camera);

// A picture control of a source: a colour balance channel, or a picture
// property of the source itself (in hundredths when it is a fraction).
struct PictureControl {
    QString name;   // the key it is saved under
    QString label;  // as the source names it
    int minimum = 0;
    int maximum = 0;
    int defaultValue = 0;  // what the camera has before any choice is applied
    int value = 0;
};
// The controls of an opened source (READY or beyond).
std::vector<PictureControl> ReadPictureControls(GstElement* source);
// Sets the chosen values on an opened source; controls it lacks are skipped.
void ApplyPictureControls(GstElement* source, const QMap<QString, int>& chosen);
// Opens the camera briefly to read its controls; none when it cannot be opened.
std::vector<PictureControl> QueryPictureControls(const Camera& camera);
QString NormaliseControlName(const QString& label);

}  // namespace camwarden::capgst
