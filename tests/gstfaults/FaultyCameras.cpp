#include "tests/gstfaults/FaultyCameras.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "platform/gst/GstPtr.h"

namespace camwarden::faults {
namespace {

using capgst::GstCapsPtr;
using capgst::GstObjectPtr;
using capgst::GstPadPtr;
using capgst::GstStructurePtr;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

enum class Fault { Slow, Dead, Stall, Vanish, NoEos, Fail, Stuck };

struct Camera {
    Fault fault;
    const char* path;
    const char* display;
};
// In the order of Fault, which indexes it.
constexpr std::array<Camera, 7> kCameras{{
    {Fault::Slow, "fault-slow", "Slow camera"},
    {Fault::Dead, "fault-dead", "Camera that never starts"},
    {Fault::Stall, "fault-stall", "Camera that stops delivering"},
    {Fault::Vanish, "fault-vanish", "Camera that vanishes"},
    {Fault::NoEos, "fault-noeos", "Camera whose end never comes"},
    {Fault::Fail, "fault-fail", "Camera that fails to start"},
    {Fault::Stuck, "fault-stuck", "Camera that never lets go"},
}};

const Camera& CameraOf(Fault fault) {
    return kCameras.at(static_cast<size_t>(fault));
}

GstCapsPtr OfferedCaps() {
    return GstCapsPtr(
        gst_caps_from_string("video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1}; "
                             "video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,15/1}"));
}

// A whole number from the environment; the default when unset or not a number.
guint64 Knob(const char* name, guint64 fallback) {
    const gchar* text = g_getenv(name);
    if (!text || !*text) return fallback;
    gchar* end = nullptr;
    const guint64 value = g_ascii_strtoull(text, &end, 10);
    return *end ? fallback : value;
}

Millis KnobMs(const char* name, guint64 fallback) {
    return Millis(Knob(name, fallback));
}

// ---------------------------------------------------------------------------
// What the whole process shares. GStreamer calls the provider, its devices
// and their sources with nothing of ours to hand, and a test must reach every
// blocked wait at once: so it is one record for the process, behind one lock.
struct Shared {
    std::mutex m;
    std::condition_variable releasedChanged;
    bool released = false;  // blocked waits end, and later ones do not block
    // Sources started so far per camera, as only the first few stall or
    // vanish. Started, not made: a source made only to read the picture
    // controls is no clip.
    std::array<guint64, kCameras.size()> starts{};
    bool listing = false;   // the provider is started
    bool vanished = false;  // fault-vanish is out of the list
    // Counts the vanishings, so that a comeback meant for an earlier one,
    // already undone by a reset, does nothing.
    guint vanishings = 0;
};

Shared& Common() {
    // Never destroyed: a streaming thread may still wait on it while the
    // process exits. Global on purpose, as said above.
    // NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
    static Shared* const shared = new Shared();
    return *shared;
}

// How many sources from the camera have started, this one included.
guint64 CountStart(Fault fault) {
    Shared& s = Common();
    std::lock_guard lock(s.m);
    return ++s.starts.at(static_cast<size_t>(fault));
}

// Waits until ReleaseStuckCameras, or at most `limit`.
void WaitForRelease(std::optional<Millis> limit) {
    Shared& s = Common();
    std::unique_lock lock(s.m);
    const auto released = [&s] { return s.released; };
    if (limit)
        s.releasedChanged.wait_for(lock, *limit, released);
    else
        s.releasedChanged.wait(lock, released);
}

// ---------------------------------------------------------------------------
// The devices and their provider.

struct FaultyDevice {
    GstDevice parent;
    Fault fault;
};
struct FaultyDeviceClass {
    GstDeviceClass parent;
};
struct FaultyProvider {
    GstDeviceProvider parent;
};
struct FaultyProviderClass {
    GstDeviceProviderClass parent;
};

// A new type, or none when another copy of this code (the plugin module in a
// process that also links us) has taken the name.
GType NewType(GType parent, const char* name, guint16 classSize, GClassInitFunc classInit,
              guint16 instanceSize, GInstanceInitFunc instanceInit = nullptr) {
    if (g_type_from_name(name) != 0) return G_TYPE_INVALID;
    const GTypeInfo info{classSize, nullptr,      nullptr, classInit,    nullptr,
                         nullptr,   instanceSize, 0,       instanceInit, nullptr};
    return g_type_register_static(parent, name, &info, GTypeFlags(0));
}

GstElement* CreateElement(GstDevice* device, const gchar* name);

GType DeviceType() {
    static const GType type = NewType(
        GST_TYPE_DEVICE, "CamwardenFaultyDevice", sizeof(FaultyDeviceClass),
        [](gpointer klass, gpointer) { GST_DEVICE_CLASS(klass)->create_element = CreateElement; },
        sizeof(FaultyDevice));
    return type;
}

// A new floating device, as a provider hands them over.
GstDevice* NewDevice(const Camera& c) {
    const GstCapsPtr caps = OfferedCaps();
    const std::string serial = std::string("camwarden-") + c.path;
    const GstStructurePtr props(
        gst_structure_new("camwarden-faulty-camera-properties", "device.path", G_TYPE_STRING,
                          c.path, "device.serial", G_TYPE_STRING, serial.c_str(), nullptr));
    auto* device = reinterpret_cast<FaultyDevice*>(
        g_object_new(DeviceType(), "display-name", c.display, "device-class", "Video/Source",
                     "caps", caps.get(), "properties", props.get(), nullptr));
    device->fault = c.fault;
    return GST_DEVICE(device);
}

bool Offered(const Shared& s, const Camera& c) {
    return c.fault != Fault::Vanish || !s.vanished;
}

// The device the provider lists for a camera, if any. Read from the list
// itself: gst_device_provider_get_devices would wait for a start in progress.
GstObjectPtr<GstDevice> Listed(GstDeviceProvider* provider, const Camera& c) {
    GstObjectPtr<GstDevice> found;
    GST_OBJECT_LOCK(provider);
    for (GList* l = provider->devices; l && !found; l = l->next) {
        auto* device = static_cast<FaultyDevice*>(l->data);
        if (G_TYPE_CHECK_INSTANCE_TYPE(device, DeviceType()) && device->fault == c.fault)
            found.reset(GST_DEVICE(gst_object_ref(device)));
    }
    GST_OBJECT_UNLOCK(provider);
    return found;
}

gboolean StartProvider(GstDeviceProvider* provider) {
    // A provider whose service does not answer holds up whoever starts
    // watching the cameras: the program's start-up.
    if (const Millis hold = KnobMs("CAMWARDEN_FAULT_PROVIDER_START_MS", 0); hold.count() > 0)
        std::this_thread::sleep_for(hold);
    Shared& s = Common();
    std::lock_guard lock(s.m);
    s.listing = true;
    for (const Camera& c : kCameras)
        if (Offered(s, c)) gst_device_provider_device_add(provider, NewDevice(c));
    return TRUE;
}

void StopProvider(GstDeviceProvider*) {
    // The base class lets go of the devices itself.
    Shared& s = Common();
    std::lock_guard lock(s.m);
    s.listing = false;
}

GList* Probe(GstDeviceProvider*) {
    Shared& s = Common();
    std::lock_guard lock(s.m);
    GList* out = nullptr;
    for (const Camera& c : kCameras)
        if (Offered(s, c)) out = g_list_append(out, NewDevice(c));
    return out;
}

GType ProviderType() {
    static const GType type = NewType(
        GST_TYPE_DEVICE_PROVIDER, "CamwardenFaultyCameraProvider", sizeof(FaultyProviderClass),
        [](gpointer klass, gpointer) {
            auto* k = GST_DEVICE_PROVIDER_CLASS(klass);
            k->start = StartProvider;
            k->stop = StopProvider;
            k->probe = Probe;
            gst_device_provider_class_set_static_metadata(
                k, "Camwarden faulty cameras", "Source/Video",
                "Live cameras that misbehave, for testing how the program copes", "Quillory");
        },
        sizeof(FaultyProvider));
    return type;
}

GstObjectPtr<GstDeviceProvider> Provider() {
    return GstObjectPtr<GstDeviceProvider>(
        gst_device_provider_factory_get_by_name(kFaultyCamerasName));
}

// Lists fault-vanish again unless it is listed already. Called locked.
void Relist(GstDeviceProvider* provider, Shared& s) {
    s.vanished = false;
    const Camera& c = CameraOf(Fault::Vanish);
    if (provider && s.listing && !Listed(provider, c))
        gst_device_provider_device_add(provider, NewDevice(c));
}

gboolean ComeBack(GstClock*, GstClockTime, GstClockID, gpointer data) {
    const auto provider = Provider();
    Shared& s = Common();
    std::lock_guard lock(s.m);
    if (s.vanished && s.vanishings == GPOINTER_TO_UINT(data)) Relist(provider.get(), s);
    return TRUE;
}

// Takes fault-vanish out of the device list as an unplugged camera leaves
// it, and puts a new one back `back` later, on the system clock's thread.
void Vanish(Millis back) {
    const auto provider = Provider();
    guint vanishing = 0;
    {
        Shared& s = Common();
        std::lock_guard lock(s.m);
        if (s.vanished) return;
        s.vanished = true;
        vanishing = ++s.vanishings;
        if (provider) {
            if (const auto device = Listed(provider.get(), CameraOf(Fault::Vanish)))
                gst_device_provider_device_remove(provider.get(), device.get());
        }
    }
    const GstObjectPtr<GstClock> clock(gst_system_clock_obtain());
    const GstClockID id = gst_clock_new_single_shot_id(
        clock.get(), gst_clock_get_time(clock.get()) + GST_MSECOND * GstClockTime(back.count()));
    gst_clock_id_wait_async(id, ComeBack, GUINT_TO_POINTER(vanishing), nullptr);
    // The clock holds the wait while it is pending.
    gst_clock_id_unref(id);
}

// ---------------------------------------------------------------------------
// The sources.

// What one source made from a faulty camera keeps.
struct SourceState {
    Fault fault = Fault::Slow;
    Millis delay{};  // how long the fault waits, for a camera that waits
    Millis back{};   // how long a vanished camera stays away
    // Of the sources started from the camera, the first this many stop.
    guint64 firstStopping = 0;
    std::atomic<bool> stops{false};  // this one does; decided as it starts
    // When the source first went to PLAYING; zero before.
    std::atomic<Clock::rep> playingSince{0};
    // Touched only by the streaming thread.
    GstClockTime firstPts = GST_CLOCK_TIME_NONE;
    bool stopped = false;
};

// GObject allocates the instance and zeroes it; the C++ members are made in
// place when it is initialised and destroyed when it is finalised.
struct FaultySource {
    GstBin parent;
    std::unique_ptr<SourceState> self;
};
struct FaultySourceClass {
    GstBinClass parent;
};

SourceState& Self(gpointer source) {
    return *static_cast<FaultySource*>(source)->self;
}

GstPadProbeReturn OnFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
    SourceState& s = *static_cast<SourceState*>(data);
    if (s.fault == Fault::Slow) {
        // A webcam warming up: nothing until the delay has passed.
        const Clock::rep since = s.playingSince.load();
        const bool warm =
            since != 0 && Clock::now() - Clock::time_point(Clock::duration(since)) >= s.delay;
        return warm ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
    }
    if (!s.stops) return GST_PAD_PROBE_OK;
    if (s.stopped) return GST_PAD_PROBE_DROP;
    const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
    if (!GST_CLOCK_TIME_IS_VALID(pts)) return GST_PAD_PROBE_OK;
    if (!GST_CLOCK_TIME_IS_VALID(s.firstPts)) s.firstPts = pts;
    if (pts - s.firstPts < GST_MSECOND * GstClockTime(s.delay.count())) return GST_PAD_PROBE_OK;
    // Quiet from now on, with no error and no end: only the frames stop.
    s.stopped = true;
    if (s.fault == Fault::Vanish) Vanish(s.back);
    return GST_PAD_PROBE_DROP;
}

GstPadProbeReturn DropEos(GstPad*, GstPadProbeInfo* info, gpointer) {
    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS ? GST_PAD_PROBE_DROP
                                                                           : GST_PAD_PROBE_OK;
}

GstStateChangeReturn ChangeSourceState(GstElement* element, GstStateChange transition) {
    SourceState& s = Self(element);
    switch (transition) {
        case GST_STATE_CHANGE_READY_TO_PAUSED:
            if (s.fault == Fault::Dead) {
                // A PipeWire camera whose link never comes up: the wait ends
                // on its own time, not on anything asked of the element.
                WaitForRelease(s.delay);
                GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ,
                                  ("The camera did not start: its link failed."), (nullptr));
                return GST_STATE_CHANGE_FAILURE;
            }
            if (s.firstStopping > 0) s.stops = CountStart(s.fault) <= s.firstStopping;
            if (s.fault == Fault::Fail) {
                GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ, ("The camera failed to start."),
                                  (nullptr));
                return GST_STATE_CHANGE_FAILURE;
            }
            break;
        case GST_STATE_CHANGE_PAUSED_TO_PLAYING: {
            // Before the frames can start, so the first one sees it.
            Clock::rep unset = 0;
            s.playingSince.compare_exchange_strong(unset, Clock::now().time_since_epoch().count());
            break;
        }
        case GST_STATE_CHANGE_PAUSED_TO_READY:
            // A hung driver: the way down never returns.
            if (s.fault == Fault::Stuck) WaitForRelease(std::nullopt);
            break;
        default:
            break;
    }
    return GST_ELEMENT_CLASS(g_type_class_peek(GST_TYPE_BIN))->change_state(element, transition);
}

void FinalizeSource(GObject* object) {
    static_cast<FaultySource*>(static_cast<gpointer>(object))->self.~unique_ptr();
    G_OBJECT_CLASS(g_type_class_peek(GST_TYPE_BIN))->finalize(object);
}

GType SourceType() {
    static const GType type = NewType(
        GST_TYPE_BIN, "CamwardenFaultySource", sizeof(FaultySourceClass),
        [](gpointer klass, gpointer) {
            G_OBJECT_CLASS(klass)->finalize = FinalizeSource;
            GST_ELEMENT_CLASS(klass)->change_state = ChangeSourceState;
        },
        sizeof(FaultySource),
        [](GTypeInstance* instance, gpointer) {
            new (&reinterpret_cast<FaultySource*>(instance)->self) std::unique_ptr<SourceState>();
        });
    return type;
}

// The moving ball, live, limited to what the camera offers.
bool Build(GstBin* bin, SourceState& s) {
    GstElement* camera = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* form = gst_element_factory_make("capsfilter", nullptr);
    if (!camera || !form) {
        if (camera) gst_object_unref(gst_object_ref_sink(camera));
        if (form) gst_object_unref(gst_object_ref_sink(form));
        return false;
    }
    gst_util_set_object_arg(G_OBJECT(camera), "pattern", "ball");
    g_object_set(camera, "is-live", TRUE, nullptr);
    const GstCapsPtr caps = OfferedCaps();
    g_object_set(form, "caps", caps.get(), nullptr);
    gst_bin_add_many(bin, camera, form, nullptr);
    if (!gst_element_link(camera, form)) return false;
    const GstPadPtr frames(gst_element_get_static_pad(camera, "src"));
    if (s.fault == Fault::Slow || s.firstStopping > 0)
        gst_pad_add_probe(frames.get(), GST_PAD_PROBE_TYPE_BUFFER, OnFrame, &s, nullptr);
    // The program's end reaches the bin through videotestsrc, so it is dropped
    // right where it leaves that.
    if (s.fault == Fault::NoEos)
        gst_pad_add_probe(frames.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, DropEos, nullptr,
                          nullptr);
    const GstPadPtr out(gst_element_get_static_pad(form, "src"));
    return gst_element_add_pad(GST_ELEMENT(bin), gst_ghost_pad_new("src", out.get()));
}

std::unique_ptr<SourceState> NewSourceState(Fault fault) {
    auto s = std::make_unique<SourceState>();
    s->fault = fault;
    switch (fault) {
        case Fault::Slow:
            s->delay = KnobMs("CAMWARDEN_FAULT_SLOW_MS", 1500);
            break;
        case Fault::Dead:
            s->delay = KnobMs("CAMWARDEN_FAULT_DEAD_MS", 30000);
            break;
        case Fault::Stall:
            s->delay = KnobMs("CAMWARDEN_FAULT_STALL_MS", 2300);
            s->firstStopping = Knob("CAMWARDEN_FAULT_STALL_CLIPS", 1);
            break;
        case Fault::Vanish:
            s->delay = KnobMs("CAMWARDEN_FAULT_STALL_MS", 2300);
            s->back = KnobMs("CAMWARDEN_FAULT_BACK_MS", 3000);
            s->firstStopping = 1;
            break;
        default:
            break;
    }
    return s;
}

GstElement* CreateElement(GstDevice* device, const gchar* name) {
    const Fault fault = reinterpret_cast<FaultyDevice*>(device)->fault;
    auto* source = static_cast<FaultySource*>(g_object_new(SourceType(), "name", name, nullptr));
    source->self = NewSourceState(fault);
    if (!Build(GST_BIN(source), *source->self)) {
        gst_object_unref(gst_object_ref_sink(source));
        return nullptr;
    }
    return GST_ELEMENT(source);
}

}  // namespace

bool RegisterFaultyCameras(GstPlugin* plugin) {
    if (DeviceType() == G_TYPE_INVALID || SourceType() == G_TYPE_INVALID ||
        ProviderType() == G_TYPE_INVALID)
        return false;
    // Marginal: listed by a device monitor, never preferred over a real camera.
    return gst_device_provider_register(plugin, kFaultyCamerasName, GST_RANK_MARGINAL,
                                        ProviderType());
}

void ReleaseStuckCameras() {
    Shared& s = Common();
    {
        std::lock_guard lock(s.m);
        s.released = true;
    }
    s.releasedChanged.notify_all();
}

void ResetFaultyCameras() {
    const auto provider = Provider();
    Shared& s = Common();
    std::lock_guard lock(s.m);
    s.released = false;
    s.starts = {};
    // A camera still away from the last test is back for the next.
    if (s.vanished) {
        ++s.vanishings;
        Relist(provider.get(), s);
    }
}

}  // namespace camwarden::faults
