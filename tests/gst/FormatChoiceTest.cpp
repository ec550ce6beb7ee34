#include <gtest/gtest.h>

#include "platform/gst/Camera.h"
#include "platform/gst/GstCaptureSystem.h"

namespace camwarden::capgst {
namespace {

GstCapsPtr Caps(const char* s) {
    InitGStreamer();
    return GstCapsPtr(gst_caps_from_string(s));
}

QString Str(const GstCapsPtr& caps) {
    const GCharPtr s(gst_caps_to_string(caps.get()));
    return QString::fromUtf8(s.get());
}

const char* kWebcam =
    "image/jpeg,width=1280,height=720,framerate={30/1,15/1};"
    "image/jpeg,width=640,height=480,framerate={30/1,15/1};"
    "video/x-raw,format=YUY2,width=1280,height=720,framerate={10/1,5/1};"
    "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1}";

TEST(FrameRateRequest, MicroSecondsBecomeExactRates) {
    EXPECT_EQ(FrameRateFromMicroSeconds(66667), (Fraction{15, 1}));
    EXPECT_EQ(FrameRateFromMicroSeconds(33333), (Fraction{30, 1}));
    EXPECT_EQ(FrameRateFromMicroSeconds(33367), (Fraction{30000, 1001}));
    EXPECT_EQ(FrameRateFromMicroSeconds(40000), (Fraction{25, 1}));
    EXPECT_EQ(FrameRateFromMicroSeconds(2000000), (Fraction{1, 2}));
    // 0 would be a division by zero; it gets the usual default.
    EXPECT_EQ(FrameRateFromMicroSeconds(0), (Fraction{15, 1}));
    EXPECT_EQ(MicroSecondsFromFrameRate({30, 1}), 33333u);
    EXPECT_EQ(MicroSecondsFromFrameRate({30000, 1001}), 33367u);
    EXPECT_EQ(MicroSecondsFromFrameRate({0, 1}), 0u);
}

TEST(FormatChoice, MjpegPassedThroughOnlyWhenWantedAndOffered) {
    const auto webcam = Caps(kWebcam);
    DriverSettings s;
    auto f = ChooseFormat(webcam.get(), s, {15, 1});
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->mjpeg);
    EXPECT_EQ(Str(f->sourceCaps),
              "image/jpeg, width=(int)640, height=(int)480, framerate=(fraction)15/1");

    s.passMjpeg = false;
    f = ChooseFormat(webcam.get(), s, {15, 1});
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->mjpeg);
    EXPECT_EQ(Str(f->sourceCaps),
              "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)15/1, "
              "format=(string)YUY2");

    // Decoding MJPEG only to encode it again would lose quality for nothing.
    const auto mjpegOnly = Caps("image/jpeg,width=640,height=480,framerate=30/1");
    f = ChooseFormat(mjpegOnly.get(), s, {15, 1});
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->mjpeg);
}

TEST(FormatChoice, RawPrefersFourTwoZeroLayouts) {
    const auto cam = Caps("video/x-raw,format={YUY2,RGB,I420},width=640,height=480,framerate=30/1");
    const auto f = ChooseFormat(cam.get(), DriverSettings{}, {30, 1});
    ASSERT_TRUE(f);
    EXPECT_FALSE(f->mjpeg);
    EXPECT_STREQ(gst_structure_get_string(gst_caps_get_structure(f->sourceCaps.get(), 0), "format"),
                 "I420");
}

TEST(FormatChoice, SizeIsTheChosenOneElse640x480ElseTheFirst) {
    const auto webcam = Caps(kWebcam);
    DriverSettings s;
    s.width = 1280;
    s.height = 720;
    auto f = ChooseFormat(webcam.get(), s, {15, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width, 1280);

    s.width = 800;  // not offered
    s.height = 600;
    f = ChooseFormat(webcam.get(), s, {15, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width, 640);
    EXPECT_EQ(f->height, 480);

    const auto big = Caps(
        "video/x-raw,format=YUY2,width=1920,height=1080,framerate=30/1;"
        "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1");
    f = ChooseFormat(big.get(), s, {15, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width, 1920);

    // A scaling camera offers ranges.
    const auto scaler = Caps(
        "video/x-raw,format=I420,width=[16,4096],height=[16,4096],"
        "framerate=[1/1,60/1]");
    f = ChooseFormat(scaler.get(), DriverSettings{}, {25, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width, 640);
    EXPECT_EQ(f->height, 480);
    EXPECT_EQ(f->sourceRate, (Fraction{25, 1}));
}

TEST(FormatChoice, RateAtLeastTheRequestElseTheNearest) {
    const auto webcam = Caps(kWebcam);
    DriverSettings s;
    auto f = ChooseFormat(webcam.get(), s, {20, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sourceRate, (Fraction{30, 1}));  // frames dropped, not made up
    EXPECT_EQ(f->outputRate, (Fraction{20, 1}));

    f = ChooseFormat(webcam.get(), s, {60, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sourceRate, (Fraction{30, 1}));
    EXPECT_EQ(f->outputRate, (Fraction{60, 1}));

    s.passMjpeg = false;
    s.width = 1280;
    s.height = 720;
    f = ChooseFormat(webcam.get(), s, {15, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sourceRate, (Fraction{10, 1}));
}

// A fast camera's own rates are recorded at; a rate it does not list is
// bounded as any request is.
TEST(FormatChoice, RatesPastTheUsualBoundAreKeptWhenTheCameraListsThem) {
    const auto fast = Caps(
        "image/jpeg,width=640,height=480,framerate={240/1,120/1,30/1};"
        "image/jpeg,width=320,height=240,framerate=[1/1,330/1]");
    DriverSettings s;
    auto f = ChooseFormat(fast.get(), s, {240, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->sourceRate, (Fraction{240, 1}));
    EXPECT_EQ(f->outputRate, (Fraction{240, 1}));
    f = ChooseFormat(fast.get(), s, {500, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->outputRate, (Fraction{120, 1}));
    s.width = 320;
    s.height = 240;
    f = ChooseFormat(fast.get(), s, {300, 1});
    ASSERT_TRUE(f);
    EXPECT_EQ(f->outputRate, (Fraction{300, 1}));
    // No camera films this fast, whatever it claims.
    EXPECT_EQ(FrameRateFor(fast.get(), {5000, 1}), (Fraction{120, 1}));
    EXPECT_EQ(FrameRateFor(Caps(kWebcam).get(), {240, 1}), (Fraction{120, 1}));
}

TEST(FormatChoice, NothingUsableIsNoChoice) {
    EXPECT_FALSE(ChooseFormat(nullptr, DriverSettings{}, {15, 1}));
    EXPECT_FALSE(ChooseFormat(Caps("audio/x-raw,rate=44100").get(), DriverSettings{}, {15, 1}));
    EXPECT_FALSE(ChooseFormat(Caps("EMPTY").get(), DriverSettings{}, {15, 1}));
}

Camera Cam(const char* provider, const char* name, const char* path, const char* id = "") {
    Camera c;
    c.provider = QString::fromUtf8(provider);
    c.name = QString::fromUtf8(name);
    c.path = QString::fromUtf8(path);
    c.busPath = QString::fromUtf8(id);
    return c;
}

DriverSettings Saved(const char* path, const char* name = "", const char* id = "") {
    DriverSettings s;
    s.device = QString::fromUtf8(path);
    s.deviceName = QString::fromUtf8(name);
    s.deviceId = QString::fromUtf8(id);
    return s;
}

constexpr auto kV4l2 = "v4l2deviceprovider";
constexpr auto kPipeWire = "pipewiredeviceprovider";

TEST(CameraChoice, RunChoiceThenSavedThenFirst) {
    const std::vector<Camera> cams{Cam(kV4l2, "Integrated", "/dev/video0", "pci-usb-0:5"),
                                   Cam(kV4l2, "C920", "/dev/video2", "pci-usb-0:3")};
    EXPECT_EQ(ResolveCamera(cams, "/dev/video2", Saved("/dev/video0"))->name, "C920");
    EXPECT_EQ(ResolveCamera(cams, "C920", {})->path, "/dev/video2");
    EXPECT_EQ(ResolveCamera(cams, {}, Saved("/dev/video2"))->name, "C920");
    EXPECT_EQ(ResolveCamera(cams, {}, {})->name, "Integrated");
    // Asked for and not there: no camera, rather than some other one.
    EXPECT_FALSE(ResolveCamera(cams, "/dev/video7", {}));
    EXPECT_FALSE(ResolveCamera(cams, {}, Saved("/dev/video7")));
    EXPECT_FALSE(ResolveCamera({}, {}, {}));
    EXPECT_EQ(NormaliseControlName("White Balance Temperature, Auto"),
              "white_balance_temperature__auto");
}

// The nodes are numbered in the order cameras are found, so after a restart
// or replugging /dev/video0 may be another camera.
TEST(CameraChoice, SavedChoiceFollowsTheCameraNotItsNode) {
    const std::vector<Camera> renumbered{Cam(kV4l2, "C920", "/dev/video0", "pci-usb-0:3"),
                                         Cam(kV4l2, "Integrated", "/dev/video2", "pci-usb-0:5")};
    DriverSettings saved = Saved("/dev/video0", "Integrated", "pci-usb-0:5");
    EXPECT_EQ(ResolveCamera(renumbered, {}, saved)->path, "/dev/video2");

    // Plugged into another port: known by its name.
    saved = Saved("/dev/video0", "Integrated");
    EXPECT_EQ(ResolveCamera(renumbered, {}, saved)->path, "/dev/video2");

    // Its node now belongs to another camera and it is not there itself.
    saved = Saved("/dev/video0", "Brio", "pci-usb-0:9");
    EXPECT_FALSE(ResolveCamera(renumbered, {}, saved));

    // What is remembered finds the camera again.
    DriverSettings s;
    RememberCamera(renumbered[1], s);
    EXPECT_EQ(ResolveCamera(renumbered, {}, s)->name, "Integrated");
    EXPECT_EQ(ResolveCamera({renumbered[1], renumbered[0]}, {}, s)->name, "Integrated");
}

TEST(CameraDiscovery, EachCameraOnceThroughThePreferredProvider) {
    auto both = DistinctCameras(
        {Cam(kV4l2, "C920 (V4L2)", "/dev/video2"), Cam(kV4l2, "Integrated (V4L2)", "/dev/video0"),
         Cam(kPipeWire, "C920", "/dev/video2"), Cam("libcameraprovider", "Integrated (V4L2)", "")});
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].provider, kV4l2);
    EXPECT_EQ(both[0].path, "/dev/video0");
    EXPECT_EQ(both[1].provider, kV4l2);
    EXPECT_EQ(both[1].name, "C920 (V4L2)");

    // A camera only PipeWire offers (a virtual one) is listed all the same.
    auto virt = DistinctCameras({Cam(kV4l2, "C920", "/dev/video2"), Cam(kPipeWire, "VirtCam", "")});
    ASSERT_EQ(virt.size(), 2u);
    EXPECT_EQ(virt[1].provider, kPipeWire);

    // Without PipeWire's daemon: v4l2, lowest node first.
    auto v4l2 = DistinctCameras({Cam(kV4l2, "B", "/dev/video10"), Cam(kV4l2, "A", "/dev/video2")});
    ASSERT_EQ(v4l2.size(), 2u);
    EXPECT_EQ(v4l2[0].path, "/dev/video2");

    // Two cameras of one kind on one provider are two cameras.
    EXPECT_EQ(DistinctCameras(
                  {Cam("libcameraprovider", "Same", ""), Cam("libcameraprovider", "Same", "")})
                  .size(),
              2u);
}

}  // namespace
}  // namespace camwarden::capgst
