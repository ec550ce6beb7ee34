#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <map>
#include <string>

#include "platform/gst/GstCaptureSystem.h"

namespace camwarden {
namespace {

using namespace std::chrono_literals;

GObject* LeaksTracer() {
    GObject* found = nullptr;
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* t = tracers; t; t = t->next) {
        if (std::string(G_OBJECT_TYPE_NAME(t->data)) == "GstLeaksTracer") found = G_OBJECT(t->data);
    }
    g_list_free_full(tracers, gst_object_unref);
    return found;  // the tracing framework keeps it for the life of the process
}

// Objects made since the last checkpoint and not yet gone, by type, as
// GStreamer's own leak tracer counts them.
std::map<std::string, int> MadeAndStillAlive(GObject* tracer) {
    GstStructure* checkpoint = nullptr;
    g_signal_emit_by_name(tracer, "activity-get-checkpoint", &checkpoint);
    // An address can be freed and used again, so count rather than mark.
    std::map<std::string, std::pair<std::string, int>> byAddress;
    const auto walk = [&](const char* field, int delta) {
        const GValue* list = gst_structure_get_value(checkpoint, field);
        for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
            const GstStructure* o = gst_value_get_structure(gst_value_list_get_value(list, i));
            auto& entry = byAddress[gst_structure_get_string(o, "address")];
            if (const gchar* type = gst_structure_get_string(o, "type-name")) entry.first = type;
            entry.second += delta;
        }
    };
    walk("objects-created-list", 1);
    walk("objects-removed-list", -1);
    gst_structure_free(checkpoint);
    std::map<std::string, int> byType;
    for (const auto& [address, entry] : byAddress) {
        if (entry.second > 0) byType[entry.first] += entry.second;
    }
    return byType;
}

int OpenDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Clip after clip nothing may stay behind: no pipeline, element, pad, bus,
// message, and no descriptor. Recording stops for good otherwise, after a
// few hundred clips, at the descriptor limit.
TEST(CaptureLeaks, ClipsLeaveNoObjectOrDescriptorBehind) {
    if (gst_is_initialized())
        GTEST_SKIP() << "needs a process of its own (ctest gives each test one)";
    qputenv("GST_TRACERS", "leaks(stack-traces-flags=none)");
    QTemporaryDir dir;
    GstCaptureSystem system(QStringLiteral("test-mjpeg"), dir.filePath(QStringLiteral("q.ini")));
    auto w = system.CreateCaptureWindow(QStringLiteral("SaveCam"), nullptr);
    ASSERT_TRUE(w && w->DriverConnect(0));
    const auto record = [&](int n) {
        ASSERT_TRUE(w->SetCaptureFile(dir.filePath(QStringLiteral("c%1.avi").arg(n))));
        CaptureParms p;
        p.fLimitEnabled = 1;
        p.wTimeLimit = 1;
        w->SetSequenceSetup(&p);
        ASSERT_TRUE(w->Sequence());
        ASSERT_TRUE(system.WaitUntilIdle(10s));
    };
    // The first clip fills caches that live as long as the process; it is
    // stamped, so the stamp's are filled too.
    w->SetTimeStamp(true);
    record(0);
    w->Stop();  // lets go of the finished clip
    GObject* tracer = LeaksTracer();
    ASSERT_TRUE(tracer) << "GStreamer's leak tracer is not running";
    g_signal_emit_by_name(tracer, "activity-start-tracking");
    const int fds = OpenDescriptors();

    // Stamped clips too: the stamp's pictures are made anew each second.
    for (int n = 1; n <= 5; ++n) {
        w->SetTimeStamp(n % 2 == 1);
        record(n);
    }
    // Clips that cannot start must not leak either.
    ASSERT_TRUE(w->SetCaptureFile(dir.filePath(QStringLiteral("none/c.avi"))));
    EXPECT_TRUE(w->Sequence());
    w->Stop();
    ASSERT_TRUE(system.WaitUntilIdle(10s));

    EXPECT_EQ(MadeAndStillAlive(tracer), (std::map<std::string, int>{}));
    EXPECT_EQ(OpenDescriptors(), fds);
}

}  // namespace
}  // namespace camwarden
