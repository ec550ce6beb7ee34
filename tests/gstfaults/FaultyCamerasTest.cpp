#include "tests/gstfaults/FaultyCameras.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "platform/gst/GstPtr.h"

namespace camwarden::faults {
namespace {

using namespace capgst;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct DeviceListFree {
    void operator()(GList* l) const { g_list_free_full(l, gst_object_unref); }
};
using DeviceList = std::unique_ptr<GList, DeviceListFree>;

// Checks `done` every `step` until it holds, for at most `limit`.
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds limit = 5s,
                std::chrono::milliseconds step = 20ms) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

// A plain pipeline from one camera, counting the frames that reach its end.
struct Clip {
    explicit Clip(GstDevice* device) {
        GstElement* source = device ? gst_device_create_element(device, nullptr) : nullptr;
        GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        EXPECT_TRUE(source && convert && sink) << "no such camera, or no such element";
        if (!source || !convert || !sink) return;
        gst_bin_add_many(GST_BIN(pipeline.get()), source, convert, sink, nullptr);
        EXPECT_TRUE(gst_element_link_many(source, convert, sink, nullptr));
        const GstPadPtr in(gst_element_get_static_pad(sink, "sink"));
        gst_pad_add_probe(
            in.get(), GST_PAD_PROBE_TYPE_BUFFER,
            [](GstPad*, GstPadProbeInfo*, gpointer data) {
                auto* clip = static_cast<Clip*>(data);
                Clock::rep unset = 0;
                clip->firstAt.compare_exchange_strong(unset,
                                                      Clock::now().time_since_epoch().count());
                ++clip->frames;
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
    }
    ~Clip() { gst_element_set_state(pipeline.get(), GST_STATE_NULL); }

    GstStateChangeReturn Play() const {
        return gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    }
    // Sends the end as the program does. Once playing only: ending a live
    // pipeline that still prerolls deadlocks GStreamer itself.
    bool End() const {
        GstState state = GST_STATE_NULL;
        gst_element_get_state(pipeline.get(), &state, nullptr, 5 * GST_SECOND);
        return state == GST_STATE_PLAYING &&
               gst_element_send_event(pipeline.get(), gst_event_new_eos());
    }
    GstMessagePtr Next(int types, GstClockTime wait = 0) const {
        const GstBusPtr bus(gst_element_get_bus(pipeline.get()));
        return GstMessagePtr(gst_bus_timed_pop_filtered(bus.get(), wait, GstMessageType(types)));
    }
    Clock::duration FirstFrameAfter(Clock::time_point t) const {
        return Clock::time_point(Clock::duration(firstAt.load())) - t;
    }

    GstElementPtr pipeline{SinkElement(gst_pipeline_new(nullptr))};
    std::atomic<int> frames{0};
    std::atomic<Clock::rep> firstAt{0};
};

class FaultyCamerasTest : public ::testing::Test {
protected:
    // Before any GStreamer object is made, the fixture's monitor included.
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }

    void SetUp() override {
        ASSERT_TRUE(RegisterFaultyCameras());
        ResetFaultyCameras();
        g_setenv("CAMWARDEN_FAULT_SLOW_MS", "800", TRUE);
        g_setenv("CAMWARDEN_FAULT_DEAD_MS", "1500", TRUE);
        g_setenv("CAMWARDEN_FAULT_STALL_MS", "500", TRUE);
        g_setenv("CAMWARDEN_FAULT_BACK_MS", "1000", TRUE);
        g_unsetenv("CAMWARDEN_FAULT_STALL_CLIPS");
        gst_device_monitor_add_filter(monitor_.get(), "Video/Source", nullptr);
        ASSERT_TRUE(gst_device_monitor_start(monitor_.get()));
    }
    void TearDown() override {
        // A failed test must not leave a pipeline that never stops.
        ReleaseStuckCameras();
        gst_device_monitor_stop(monitor_.get());
    }

    // Through the monitor, as the program finds its camera.
    GstObjectPtr<GstDevice> Find(const std::string& path) const {
        const DeviceList all(gst_device_monitor_get_devices(monitor_.get()));
        GstObjectPtr<GstDevice> found;
        for (GList* l = all.get(); l && !found; l = l->next) {
            const GstStructurePtr props(gst_device_get_properties(GST_DEVICE(l->data)));
            const gchar* p = props ? gst_structure_get_string(props.get(), "device.path") : nullptr;
            if (p && path == p) found = RefObject(GST_DEVICE(l->data));
        }
        return found;
    }

    GstObjectPtr<GstDeviceMonitor> monitor_{gst_device_monitor_new()};
};

TEST_F(FaultyCamerasTest, FramesComeLateStopSilentlyOrNeverEnd) {
    {
        const Clip slow(Find("fault-slow").get());
        const auto playing = Clock::now();
        slow.Play();
        ASSERT_TRUE(Eventually([&] { return slow.frames > 0; }));
        EXPECT_GE(slow.FirstFrameAfter(playing), 800ms);
        // Its end does come, so the camera whose end never comes is told apart.
        ASSERT_TRUE(slow.End());
        EXPECT_TRUE(slow.Next(GST_MESSAGE_EOS, 5 * GST_SECOND));
    }
    int stalledAfter = 0;
    {
        const Clip stall(Find("fault-stall").get());
        stall.Play();
        // Frames, then a long quiet.
        EXPECT_TRUE(Eventually(
            [&, seen = -1]() mutable {
                const int now = stall.frames;
                return now > 0 && std::exchange(seen, now) == now;
            },
            5s, 700ms));
        stalledAfter = stall.frames;
        EXPECT_GE(stalledAfter, 3);
        EXPECT_FALSE(stall.Next(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)) << "it stalls silently";
    }
    {
        const Clip next(Find("fault-stall").get());
        next.Play();
        EXPECT_TRUE(Eventually([&] { return next.frames > stalledAfter + 10; }))
            << "the next source from it delivers";
    }
    const Clip noEos(Find("fault-noeos").get());
    noEos.Play();
    ASSERT_TRUE(Eventually([&] { return noEos.frames > 0; }));
    ASSERT_TRUE(noEos.End());
    EXPECT_FALSE(noEos.Next(GST_MESSAGE_EOS | GST_MESSAGE_ERROR, 2 * GST_SECOND));
}

TEST_F(FaultyCamerasTest, VanishingCameraLeavesTheListSilentlyAndComesBack) {
    const Clip vanish(Find("fault-vanish").get());
    vanish.Play();
    EXPECT_TRUE(Eventually([&] { return !Find("fault-vanish"); })) << "it leaves";
    EXPECT_GT(vanish.frames, 0);
    EXPECT_FALSE(vanish.Next(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)) << "without a word";
    EXPECT_TRUE(Eventually([&] { return Find("fault-vanish") != nullptr; })) << "it comes back";
}

TEST_F(FaultyCamerasTest, StartsFailAndStopsHangUntilReleased) {
    const auto failsWithin = [&](const char* path, auto low, auto high) {
        const Clip clip(Find(path).get());
        const auto start = Clock::now();
        EXPECT_EQ(clip.Play(), GST_STATE_CHANGE_FAILURE) << path;
        EXPECT_GE(Clock::now() - start, low) << path;
        EXPECT_LT(Clock::now() - start, high) << path;
        EXPECT_TRUE(clip.Next(GST_MESSAGE_ERROR)) << path << " says why";
    };
    failsWithin("fault-fail", 0ms, 1s);
    failsWithin("fault-dead", 1400ms, 10s);

    const Clip stuck(Find("fault-stuck").get());
    ASSERT_NE(stuck.Play(), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(Eventually([&] { return stuck.frames > 0; }));
    g_setenv("CAMWARDEN_FAULT_DEAD_MS", "60000", TRUE);
    const Clip dead(Find("fault-dead").get());
    std::atomic<bool> stopped{false};
    std::atomic<int> started{-1};
    std::thread stopper([&] {
        gst_element_set_state(stuck.pipeline.get(), GST_STATE_NULL);
        stopped = true;
    });
    std::thread starter([&] { started = dead.Play(); });
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(started, -1);

    ReleaseStuckCameras();
    EXPECT_TRUE(Eventually([&] { return stopped && started != -1; }));
    stopper.join();
    starter.join();
    EXPECT_EQ(started, GST_STATE_CHANGE_FAILURE);
    // From now on a dead camera fails without its wait.
    failsWithin("fault-dead", 0ms, 1s);
}

}  // namespace
}  // namespace camwarden::faults
