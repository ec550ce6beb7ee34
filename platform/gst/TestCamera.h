#pragma once

#include <QString>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/gst/GstPtr.h"

namespace camwarden::capgst {

// The built-in live test cameras. "test" delivers only raw video (YUY2);
// "test-mjpeg" acts as the usual webcam that offers MJPEG besides raw video.
// They are devices of a device provider of our own, so discovery, hot-plug
// and the formats they offer take the very path a real camera's do.
enum class TestCameraKind { Raw, Mjpeg };

// The device provider's name, as the device monitor knows it.
inline constexpr auto kTestProviderName = "camwardentestcameras";

// What one offered test camera shares with the sources made from it.
struct TestCameraState {
    // A pulled plug makes a running source fail as a vanished device does.
    std::atomic<bool> plugged{true};
    // The MJPEG camera replays one second of frames compressed once per
    // format, so like a real MJPEG webcam it costs the host nothing to compress.
    std::mutex m;
    std::map<QString, std::shared_ptr<const std::vector<GstBufferPtr>>> loops;
};

// "test" or "test-mjpeg"; nullopt for anything else.
std::optional<TestCameraKind> TestCameraFromName(const QString& name);
QString TestCameraName(TestCameraKind kind);

// Registers the provider with GStreamer; safe to call more than once.
bool RegisterTestCameraProvider();
// Adds a test camera to the device list, as plugging it in would, or takes
// it out again. Each state stands for one camera.
void PlugTestCamera(TestCameraKind kind, const std::shared_ptr<TestCameraState>& state);
void UnplugTestCamera(const std::shared_ptr<TestCameraState>& state);

}  // namespace camwarden::capgst
