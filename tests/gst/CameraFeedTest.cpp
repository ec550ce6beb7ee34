#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "platform/gst/CameraFeed.h"
#include "platform/gst/GstCaptureSystem.h"

namespace camwarden::capgst {
namespace {

// A camera whose frames carry its own time, far from any clip's, as a
// camera behind PipeWire does.
constexpr GstClockTime kCameraTime = 40 * GST_SECOND;

GType FarClockDeviceType() {
    static const GType type = [] {
        const GTypeInfo info{
            sizeof(GstDeviceClass),
            nullptr,
            nullptr,
            [](gpointer klass, gpointer) {
                GST_DEVICE_CLASS(klass)->create_element = [](GstDevice*, const gchar* name) {
                    GstElement* src = gst_element_factory_make("videotestsrc", name);
                    g_object_set(src, "is-live", TRUE, nullptr);
                    const GstPadPtr pad(gst_element_get_static_pad(src, "src"));
                    gst_pad_add_probe(
                        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
                        [](GstPad*, GstPadProbeInfo* info, gpointer) {
                            GstBuffer* b =
                                gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
                            GST_BUFFER_PTS(b) += kCameraTime;
                            GST_BUFFER_DTS(b) = GST_CLOCK_TIME_NONE;
                            GST_PAD_PROBE_INFO_DATA(info) = b;
                            return GST_PAD_PROBE_OK;
                        },
                        nullptr, nullptr);
                    return src;
                };
            },
            nullptr,
            nullptr,
            sizeof(GstDevice),
            0,
            nullptr,
            nullptr};
        return g_type_register_static(GST_TYPE_DEVICE, "CamwardenFarClockDevice", &info,
                                      GTypeFlags(0));
    }();
    return type;
}

Camera FarClockCamera() {
    Camera c;
    c.name = QStringLiteral("VirtCam");
    c.provider = QStringLiteral("pipewiredeviceprovider");
    c.device.reset(GST_DEVICE(g_object_new(FarClockDeviceType(), "display-name", "VirtCam",
                                           "device-class", "Video/Source", nullptr)),
                   gst_object_unref);
    return c;
}

GstCapsPtr Caps(int width) {
    return GstCapsPtr(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "YUY2", "width",
                                          G_TYPE_INT, width, "height", G_TYPE_INT, 120, "framerate",
                                          GST_TYPE_FRACTION, 30, 1, nullptr));
}

// Runs a clip-like pipeline on the feed until it has `count` frames, and
// returns their times.
std::vector<GstClockTime> Record(std::shared_ptr<CameraFeed> feed, int count) {
    const GstElementPtr pipeline = SinkElement(gst_pipeline_new("clip"));
    GstElementPtr src = feed->MakeSource();
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), src.get(), sink, nullptr);
    EXPECT_TRUE(gst_element_link(src.get(), sink));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    feed->Attach(src.get(), {});
    std::vector<GstClockTime> times;
    for (int i = 0; i < count; ++i) {
        GstSample* sample = nullptr;
        g_signal_emit_by_name(sink, "try-pull-sample", 30 * GST_SECOND, &sample);
        if (!sample) break;
        times.push_back(GST_BUFFER_PTS(gst_sample_get_buffer(sample)));
        gst_sample_unref(sample);
    }
    CameraFeed::LetGo(std::move(feed), src.get(), true);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return times;
}

// Clip after clip gets frames from the one connection, each timed from the
// clip's own start.
TEST(CameraFeed, EachClipGetsFramesTimedFromItsOwnStart) {
    ASSERT_TRUE(InitGStreamer());
    const Camera camera = FarClockCamera();
    const GstCapsPtr caps = Caps(160);
    QString why;
    CameraFeeds feeds;
    const auto feed = feeds.Open(camera, caps.get(), {}, &why);
    ASSERT_TRUE(feed) << why.toStdString();
    EXPECT_EQ(feeds.Open(camera, caps.get(), {}, &why), feed);

    // Stamped as they arrive: a busy machine delays them, never by the
    // camera's 40 s.
    for (int clip = 0; clip < 2; ++clip) {
        const auto times = Record(feed, 10);
        ASSERT_EQ(times.size(), 10u) << "clip " << clip;
        EXPECT_LT(times.front(), 5 * GST_SECOND) << "clip " << clip;
        for (size_t i = 1; i < times.size(); ++i) EXPECT_GT(times[i], times[i - 1]);
        EXPECT_LT(times.back(), 20 * GST_SECOND) << "clip " << clip;
    }

    // Another format needs a connection of its own.
    const GstCapsPtr wider = Caps(320);
    const auto other = feeds.Open(camera, wider.get(), {}, &why);
    ASSERT_TRUE(other);
    EXPECT_NE(other, feed);
    EXPECT_EQ(Record(other, 3).size(), 3u);
}

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Waits until the keeper has let go of the feed, at most `limit`; returns
// when the wait saw it gone, which is no earlier than when it went.
std::optional<Clock::time_point> WaitClosed(const std::weak_ptr<CameraFeed>& feed,
                                            Clock::duration limit = 30s) {
    const auto end = Clock::now() + limit;
    while (!feed.expired() && Clock::now() < end) QThread::msleep(20);
    if (!feed.expired()) return std::nullopt;
    return Clock::now();
}

// A clip that fails leaves the connection's idle time where the last good
// clip left it; a good one starts it again. Each time is judged only from the
// side a slow machine cannot push it past.
TEST(CameraFeed, OnlyAClipThatEndedWellKeepsTheConnectionOpen) {
    ASSERT_TRUE(InitGStreamer());
    const Camera camera = FarClockCamera();
    const GstCapsPtr caps = Caps(160);
    constexpr auto kIdle = 3s;
    QString why;
    CameraFeeds feeds(kIdle);

    // Open for the idle time after a good clip, however late it is seen shut.
    auto feed = feeds.Open(camera, caps.get(), {}, &why);
    ASSERT_TRUE(feed) << why.toStdString();
    std::weak_ptr<CameraFeed> watched = feed;
    const auto goodEnding = Clock::now();
    ASSERT_EQ(Record(std::move(feed), 3).size(), 3u);
    const auto shut = WaitClosed(watched);
    ASSERT_TRUE(shut);
    EXPECT_GE(*shut - goodEnding, kIdle);

    // A failed clip that held the feed past the good one's idle time lets
    // it close at once, not an idle time later.
    feed = feeds.Open(camera, caps.get(), {}, &why);
    ASSERT_TRUE(feed) << why.toStdString();
    watched = feed;
    ASSERT_EQ(Record(feed, 3).size(), 3u);
    const auto goodEnded = Clock::now();
    ASSERT_EQ(feeds.Open(camera, caps.get(), {}, &why), feed);
    const GstElementPtr src = feed->MakeSource();
    std::this_thread::sleep_until(goodEnded + kIdle);
    const auto failed = Clock::now();
    CameraFeed::LetGo(std::move(feed), src.get(), false);
    const auto closed = WaitClosed(watched);
    ASSERT_TRUE(closed);
    EXPECT_LT(*closed - failed, kIdle);
}

// Turned off, or its camera gone, the connection closes at once; the next
// clip opens a new one.
TEST(CameraFeed, ClosedAtOnceWhenTurnedOffOrItsCameraGoes) {
    ASSERT_TRUE(InitGStreamer());
    const Camera camera = FarClockCamera();
    const GstCapsPtr caps = Caps(160);
    QString why;
    CameraFeeds feeds;
    auto feed = feeds.Open(camera, caps.get(), {}, &why);
    ASSERT_TRUE(feed) << why.toStdString();
    std::weak_ptr<CameraFeed> watched = feed;
    ASSERT_EQ(Record(std::move(feed), 3).size(), 3u);
    feeds.Release();
    // At once: the default idle time is a minute.
    EXPECT_TRUE(WaitClosed(watched, 10s));

    feed = feeds.Open(camera, caps.get(), {}, &why);
    ASSERT_TRUE(feed) << why.toStdString();
    watched = feed;
    QString lost;
    const GstElementPtr src = feed->MakeSource();
    feed->Attach(src.get(), [&](const QString& w) { lost = w; });
    feeds.Gone(camera);
    EXPECT_EQ(lost, QStringLiteral("the camera is gone"));
    const auto next = feeds.Open(camera, caps.get(), {}, &why);
    ASSERT_TRUE(next);
    EXPECT_NE(next, feed);
    CameraFeed::LetGo(std::move(feed), src.get(), false);
    EXPECT_TRUE(WaitClosed(watched, 10s));
}

}  // namespace
}  // namespace camwarden::capgst
