#include "platform/gst/TestCamera.h"

#include <gst/video/colorbalance.h>

#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <new>

namespace camwarden::capgst {
namespace {

constexpr auto kRawName = "test";
constexpr auto kMjpegName = "test-mjpeg";

QString TestCaps(TestCameraKind kind) {
    // The sizes and rates a common webcam offers; MJPEG listed first, as
    // such cameras do.
    const char* sizes[] = {"width=640,height=480", "width=320,height=240", "width=1280,height=720"};
    const char* rates = "framerate={30/1,25/1,20/1,15/1,10/1,5/1}";
    QStringList parts;
    if (kind == TestCameraKind::Mjpeg) {
        for (const char* s : sizes) parts << QStringLiteral("image/jpeg,%1,%2").arg(s, rates);
    }
    for (const char* s : sizes)
        parts << QStringLiteral("video/x-raw,format=YUY2,%1,%2").arg(s, rates);
    return parts.join(QLatin1String("; "));
}

GstCapsPtr OfferedCaps(TestCameraKind kind) {
    return GstCapsPtr(gst_caps_from_string(TestCaps(kind).toUtf8().constData()));
}

// ---------------------------------------------------------------------------
// The frames. Everything that makes a picture is here.

// The picture controls, in the whole-number units a webcam driver uses;
// they act as videobalance does.
struct ControlSpec {
    const char* label;
    const char* property;  // of videobalance
    int minimum, maximum, neutral;
};
constexpr std::array<ControlSpec, 2> kControls{
    {{"Brightness", "brightness", -100, 100, 0}, {"Contrast", "contrast", 0, 200, 100}}};

using Balance = std::array<int, kControls.size()>;

QString BalanceText(const Balance& balance) {
    QString out;
    for (size_t i = 0; i < kControls.size(); ++i)
        out += QStringLiteral(" %1=%2")
                   .arg(QLatin1String(kControls[i].property))
                   .arg(balance[i] / 100.0);
    return out;
}

using FrameLoop = std::shared_ptr<const std::vector<GstBufferPtr>>;

// One second of the moving ball in the negotiated form, made once and kept
// for the run: compressed for MJPEG, converted for raw video.
FrameLoop MakeLoop(const GstCaps* form, const Balance& balance, TestCameraState& state) {
    const GstStructure* s = gst_caps_get_structure(form, 0);
    int width = 0;
    int height = 0;
    int num = 0;
    int den = 1;
    if (!gst_structure_get_int(s, "width", &width) ||
        !gst_structure_get_int(s, "height", &height) ||
        !gst_structure_get_fraction(s, "framerate", &num, &den) || num <= 0 || den <= 0)
        return nullptr;
    const GCharPtr formText(gst_caps_to_string(form));
    const QString key = QString::fromUtf8(formText.get()) + BalanceText(balance);
    std::lock_guard lock(state.m);
    if (const auto it = state.loops.find(key); it != state.loops.end()) return it->second;

    const bool jpeg = gst_structure_has_name(s, "image/jpeg");
    const int count = std::clamp(int(std::lround(double(num) / den)), 1, 60);
    const QString description =
        QStringLiteral(
            "videotestsrc pattern=ball num-buffers=%1 ! "
            "video/x-raw,format=I420,width=%2,height=%3,framerate=%4/%5 ! videobalance%6 ! %7 ! "
            "fakesink name=out")
            .arg(count)
            .arg(width)
            .arg(height)
            .arg(num)
            .arg(den)
            .arg(BalanceText(balance),
                 jpeg ? QStringLiteral("jpegenc")
                      : QStringLiteral("videoconvert ! %1").arg(QString::fromUtf8(formText.get())));
    GError* raw = nullptr;
    const GstElementPtr p = SinkElement(gst_parse_launch(description.toUtf8().constData(), &raw));
    const GErrorPtr err(raw);
    if (!p || err) return nullptr;
    auto frames = std::make_shared<std::vector<GstBufferPtr>>();
    const GstElementPtr out(gst_bin_get_by_name(GST_BIN(p.get()), "out"));
    const GstPadPtr pad(gst_element_get_static_pad(out.get(), "sink"));
    gst_pad_add_probe(
        pad.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            static_cast<std::vector<GstBufferPtr>*>(data)->emplace_back(
                gst_buffer_ref(GST_PAD_PROBE_INFO_BUFFER(info)));
            return GST_PAD_PROBE_OK;
        },
        frames.get(), nullptr);
    gst_element_set_state(p.get(), GST_STATE_PLAYING);
    const GstBusPtr bus(gst_element_get_bus(p.get()));
    const GstMessagePtr done(gst_bus_timed_pop_filtered(
        bus.get(), 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(p.get(), GST_STATE_NULL);
    if (!done || GST_MESSAGE_TYPE(done.get()) != GST_MESSAGE_EOS || frames->size() != size_t(count))
        return nullptr;
    state.loops.emplace(key, frames);
    return frames;
}

// What a source made from a test camera keeps.
struct SourceState {
    TestCameraKind kind = TestCameraKind::Raw;
    std::shared_ptr<TestCameraState> camera;
    GList* channels = nullptr;  // GstColorBalanceChannel, owned
    std::array<std::atomic<int>, kControls.size()> values{};
    GstElement* balance = nullptr;  // the raw camera's videobalance, owned by the bin
    GstElement* appsrc = nullptr;   // the replaying camera's source, owned by the bin
    // The replaying camera's stream: made before it plays, then touched only
    // by its streaming thread.
    FrameLoop frames;
    int rateNum = 0;
    int rateDen = 1;
    GstClockTime origin = 0;  // running time of the first frame
    uint64_t next = 0;
    bool reported = false;

    SourceState() = default;
    SourceState(const SourceState&) = delete;
    SourceState& operator=(const SourceState&) = delete;
    ~SourceState() { g_list_free_full(channels, g_object_unref); }
};

// GObject allocates the instance and zeroes it; the C++ members are made in
// place when it is initialised and destroyed when it is finalised.
struct TestSource {
    GstBin parent;
    std::unique_ptr<SourceState> self;
};
struct TestSourceClass {
    GstBinClass parent;
};

GType TestSourceType();

SourceState& Self(gpointer source) {
    return *reinterpret_cast<TestSource*>(source)->self;
}

Balance CurrentBalance(const SourceState& s) {
    Balance b{};
    for (size_t i = 0; i < kControls.size(); ++i) b[i] = s.values[i].load();
    return b;
}

void ReportUnplugged(GstElement* element) {
    GST_ELEMENT_ERROR(element, RESOURCE, READ, ("The test camera was unplugged."), (nullptr));
}

// A pulled plug ends the stream the way a vanished device does: an error
// from the source, and no more frames.
GstPadProbeReturn OnTestFrame(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    SourceState& s = *static_cast<SourceState*>(data);
    if (s.camera->plugged.load()) return GST_PAD_PROBE_OK;
    if (!s.reported) {
        s.reported = true;
        const GstObjectPtr<GstElement> src(gst_pad_get_parent_element(pad));
        ReportUnplugged(src.get());
    }
    return GST_PAD_PROBE_DROP;
}

// The form downstream settled on, among those the camera offers.
GstCapsPtr NegotiatedForm(GstElement* appsrc, TestCameraKind kind) {
    const GstPadPtr pad(gst_element_get_static_pad(appsrc, "src"));
    const GstCapsPtr offered = OfferedCaps(kind);
    GstCapsPtr want(gst_pad_peer_query_caps(pad.get(), offered.get()));
    if (!want || gst_caps_is_empty(want.get())) return {};
    return GstCapsPtr(gst_caps_fixate(want.release()));
}

// Makes the frames to replay in the form downstream asks for. Done before
// the source plays, as a camera has its first frame ready when it starts.
bool PrepareReplay(SourceState& s) {
    const GstCapsPtr form = NegotiatedForm(s.appsrc, s.kind);
    if (form) s.frames = MakeLoop(form.get(), CurrentBalance(s), *s.camera);
    if (!s.frames) return false;
    gst_structure_get_fraction(gst_caps_get_structure(form.get(), 0), "framerate", &s.rateNum,
                               &s.rateDen);
    g_object_set(s.appsrc, "caps", form.get(), nullptr);
    return true;
}

// Runs on the source's own thread: waits for the frame's moment on the
// pipeline clock, as a camera delivers at its own pace, then hands it over.
void OnNeedData(GstElement* appsrc, guint, gpointer data) {
    SourceState& s = *static_cast<SourceState*>(data);
    if (!s.camera->plugged.load()) {
        if (!s.reported) {
            s.reported = true;
            ReportUnplugged(appsrc);
        }
        return;
    }
    if (!s.frames && !PrepareReplay(s)) {
        s.reported = true;
        GST_ELEMENT_ERROR(appsrc, STREAM, FORMAT, ("The test camera cannot make its frames."),
                          (nullptr));
        return;
    }
    const GstObjectPtr<GstClock> clock(gst_element_get_clock(appsrc));
    const GstClockTime base = gst_element_get_base_time(appsrc);
    // The first frame is taken now, however long making the loop took, as
    // a camera stamps each frame with the moment it took it.
    if (s.next == 0 && clock) {
        const GstClockTime now = gst_clock_get_time(clock.get());
        s.origin = now > base ? now - base : 0;
    }
    const GstClockTime pts =
        s.origin + gst_util_uint64_scale(s.next, GST_SECOND * s.rateDen, s.rateNum);
    const GstClockTime duration = gst_util_uint64_scale(GST_SECOND, s.rateDen, s.rateNum);
    if (clock) {
        const GstClockID id = gst_clock_new_single_shot_id(clock.get(), base + pts);
        gst_clock_id_wait(id, nullptr);
        gst_clock_id_unref(id);
    }
    const GstBufferPtr frame(gst_buffer_copy((*s.frames)[s.next % s.frames->size()].get()));
    GST_BUFFER_PTS(frame.get()) = pts;
    GST_BUFFER_DTS(frame.get()) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(frame.get()) = duration;
    GstFlowReturn ret = GST_FLOW_OK;
    g_signal_emit_by_name(appsrc, "push-buffer", frame.get(), &ret);
    ++s.next;
}

void ApplyToBalance(SourceState& s, size_t i) {
    if (s.balance)
        g_object_set(s.balance, kControls[i].property, s.values[i].load() / 100.0, nullptr);
}

bool BuildRaw(GstBin* bin, SourceState& s) {
    GstElement* src = gst_element_factory_make("videotestsrc", nullptr);
    s.balance = gst_element_factory_make("videobalance", nullptr);
    if (!src || !s.balance) {
        if (src) gst_object_unref(gst_object_ref_sink(src));
        if (s.balance) gst_object_unref(gst_object_ref_sink(s.balance));
        s.balance = nullptr;
        return false;
    }
    // A moving ball, so that every frame differs from the one before.
    gst_util_set_object_arg(G_OBJECT(src), "pattern", "ball");
    g_object_set(src, "is-live", TRUE, nullptr);
    gst_bin_add_many(bin, src, s.balance, nullptr);
    if (!gst_element_link(src, s.balance)) return false;
    const GstPadPtr pad(gst_element_get_static_pad(src, "src"));
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, OnTestFrame, &s, nullptr);
    const GstPadPtr out(gst_element_get_static_pad(s.balance, "src"));
    return gst_element_add_pad(GST_ELEMENT(bin), gst_ghost_pad_new("src", out.get()));
}

bool BuildReplay(GstBin* bin, SourceState& s) {
    GstElement* src = gst_element_factory_make("appsrc", nullptr);
    if (!src) return false;
    g_object_set(src, "is-live", TRUE, "format", GST_FORMAT_TIME, "emit-signals", TRUE, nullptr);
    g_signal_connect(src, "need-data", G_CALLBACK(OnNeedData), &s);
    s.appsrc = src;
    gst_bin_add(bin, src);
    const GstPadPtr out(gst_element_get_static_pad(src, "src"));
    return gst_element_add_pad(GST_ELEMENT(bin), gst_ghost_pad_new("src", out.get()));
}

// GstColorBalance, as a webcam's source element offers it.
const GList* ListChannels(GstColorBalance* b) {
    return Self(b).channels;
}

int ChannelIndex(const SourceState& s, GstColorBalanceChannel* channel) {
    const gint at = g_list_index(s.channels, channel);
    return at >= 0 && size_t(at) < kControls.size() ? at : -1;
}

void SetValue(GstColorBalance* b, GstColorBalanceChannel* channel, gint value) {
    SourceState& s = Self(b);
    const int i = ChannelIndex(s, channel);
    if (i < 0) return;
    s.values[size_t(i)] = std::clamp(value, channel->min_value, channel->max_value);
    ApplyToBalance(s, size_t(i));
    gst_color_balance_value_changed(b, channel, s.values[size_t(i)].load());
}

gint GetValue(GstColorBalance* b, GstColorBalanceChannel* channel) {
    const SourceState& s = Self(b);
    const int i = ChannelIndex(s, channel);
    return i < 0 ? 0 : s.values[size_t(i)].load();
}

GstColorBalanceType BalanceType(GstColorBalance*) {
    return GST_COLOR_BALANCE_HARDWARE;
}

void InitBalance(gpointer iface, gpointer) {
    auto* i = static_cast<GstColorBalanceInterface*>(iface);
    i->list_channels = ListChannels;
    i->set_value = SetValue;
    i->get_value = GetValue;
    i->get_balance_type = BalanceType;
}

void FinalizeSource(GObject* object) {
    auto* source = reinterpret_cast<TestSource*>(object);
    source->self.~unique_ptr();
    G_OBJECT_CLASS(g_type_class_peek(GST_TYPE_BIN))->finalize(object);
}

GstStateChangeReturn ChangeSourceState(GstElement* element, GstStateChange transition) {
    SourceState& s = Self(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && s.appsrc && !s.frames &&
        !PrepareReplay(s)) {
        GST_ELEMENT_ERROR(element, STREAM, FORMAT, ("The test camera cannot make its frames."),
                          (nullptr));
        return GST_STATE_CHANGE_FAILURE;
    }
    return GST_ELEMENT_CLASS(g_type_class_peek(GST_TYPE_BIN))->change_state(element, transition);
}

GType TestSourceType() {
    static const GType type = [] {
        const GTypeInfo info{sizeof(TestSourceClass),
                             nullptr,
                             nullptr,
                             [](gpointer klass, gpointer) {
                                 G_OBJECT_CLASS(klass)->finalize = FinalizeSource;
                                 GST_ELEMENT_CLASS(klass)->change_state = ChangeSourceState;
                             },
                             nullptr,
                             nullptr,
                             sizeof(TestSource),
                             0,
                             [](GTypeInstance* instance, gpointer) {
                                 new (&reinterpret_cast<TestSource*>(instance)->self)
                                     std::unique_ptr<SourceState>();
                             },
                             nullptr};
        const GType t =
            g_type_register_static(GST_TYPE_BIN, "CamwardenTestSource", &info, GTypeFlags(0));
        const GInterfaceInfo balance{InitBalance, nullptr, nullptr};
        g_type_add_interface_static(t, GST_TYPE_COLOR_BALANCE, &balance);
        return t;
    }();
    return type;
}

GstElement* MakeTestSource(TestCameraKind kind, const std::shared_ptr<TestCameraState>& camera,
                           const gchar* name) {
    auto* source = static_cast<TestSource*>(g_object_new(TestSourceType(), "name", name, nullptr));
    source->self = std::make_unique<SourceState>();
    SourceState& s = *source->self;
    s.kind = kind;
    s.camera = camera;
    for (size_t i = 0; i < kControls.size(); ++i) {
        auto* channel = static_cast<GstColorBalanceChannel*>(
            g_object_new(GST_TYPE_COLOR_BALANCE_CHANNEL, nullptr));
        channel->label = g_strdup(kControls[i].label);
        channel->min_value = kControls[i].minimum;
        channel->max_value = kControls[i].maximum;
        s.channels = g_list_append(s.channels, channel);
        s.values[i] = kControls[i].neutral;
    }
    const bool built = kind == TestCameraKind::Raw ? BuildRaw(GST_BIN(source), s)
                                                   : BuildReplay(GST_BIN(source), s);
    if (!built) {
        gst_object_unref(gst_object_ref_sink(source));
        return nullptr;
    }
    return GST_ELEMENT(source);
}

// ---------------------------------------------------------------------------
// The devices and their provider.

struct TestDevice {
    GstDevice parent;
    TestCameraKind kind;
    std::shared_ptr<TestCameraState> camera;  // made in place, as TestSource's members
};
struct TestDeviceClass {
    GstDeviceClass parent;
};

GstElement* CreateElement(GstDevice* device, const gchar* name) {
    auto* d = reinterpret_cast<TestDevice*>(device);
    return MakeTestSource(d->kind, d->camera, name);
}

GType TestDeviceType() {
    static const GType type = [] {
        const GTypeInfo info{
            sizeof(TestDeviceClass),
            nullptr,
            nullptr,
            [](gpointer klass, gpointer) {
                GST_DEVICE_CLASS(klass)->create_element = CreateElement;
                G_OBJECT_CLASS(klass)->finalize = [](GObject* object) {
                    auto* d = reinterpret_cast<TestDevice*>(object);
                    d->camera.~shared_ptr();
                    G_OBJECT_CLASS(g_type_class_peek(GST_TYPE_DEVICE))->finalize(object);
                };
            },
            nullptr,
            nullptr,
            sizeof(TestDevice),
            0,
            [](GTypeInstance* instance, gpointer) {
                new (&reinterpret_cast<TestDevice*>(instance)->camera)
                    std::shared_ptr<TestCameraState>();
            },
            nullptr};
        return g_type_register_static(GST_TYPE_DEVICE, "CamwardenTestDevice", &info, GTypeFlags(0));
    }();
    return type;
}

// A new floating device, as a provider hands them over.
GstDevice* NewDevice(TestCameraKind kind, const std::shared_ptr<TestCameraState>& camera) {
    const GstCapsPtr caps = OfferedCaps(kind);
    const QByteArray name = TestCameraName(kind).toUtf8();
    // The node path is what --camera names; the serial is what a saved
    // choice holds on to.
    const GstStructurePtr props(gst_structure_new(
        "camwarden-test-camera-properties", "device.path", G_TYPE_STRING, name.constData(),
        "device.serial", G_TYPE_STRING, ("camwarden-" + name).constData(), nullptr));
    const char* display =
        kind == TestCameraKind::Mjpeg ? "Camwarden test camera (MJPEG)" : "Camwarden test camera";
    auto* device = reinterpret_cast<TestDevice*>(
        g_object_new(TestDeviceType(), "display-name", display, "device-class", "Video/Source",
                     "caps", caps.get(), "properties", props.get(), nullptr));
    device->kind = kind;
    device->camera = camera;
    return GST_DEVICE(device);
}

struct Offer {
    TestCameraKind kind;
    std::shared_ptr<TestCameraState> camera;
    GstDevice* device = nullptr;  // while listed; the provider owns it
};

struct ProviderState {
    std::mutex m;
    std::vector<Offer> offers;
};

struct TestProvider {
    GstDeviceProvider parent;
    std::unique_ptr<ProviderState> self;  // made in place, as TestSource's members
};
struct TestProviderClass {
    GstDeviceProviderClass parent;
};

ProviderState& Self(GstDeviceProvider* p) {
    return *reinterpret_cast<TestProvider*>(p)->self;
}

gboolean StartProvider(GstDeviceProvider* provider) {
    ProviderState& s = Self(provider);
    std::lock_guard lock(s.m);
    for (Offer& o : s.offers) {
        o.device = NewDevice(o.kind, o.camera);
        gst_device_provider_device_add(provider, o.device);
    }
    return TRUE;
}

void StopProvider(GstDeviceProvider* provider) {
    ProviderState& s = Self(provider);
    std::lock_guard lock(s.m);
    // The base class lets go of the devices themselves.
    for (Offer& o : s.offers) o.device = nullptr;
}

GList* Probe(GstDeviceProvider* provider) {
    ProviderState& s = Self(provider);
    std::lock_guard lock(s.m);
    GList* out = nullptr;
    for (const Offer& o : s.offers)
        out = g_list_append(out, gst_object_ref_sink(NewDevice(o.kind, o.camera)));
    return out;
}

GType TestProviderType() {
    static const GType type = [] {
        const GTypeInfo info{
            sizeof(TestProviderClass),
            nullptr,
            nullptr,
            [](gpointer klass, gpointer) {
                auto* k = GST_DEVICE_PROVIDER_CLASS(klass);
                k->start = StartProvider;
                k->stop = StopProvider;
                k->probe = Probe;
                gst_device_provider_class_set_static_metadata(
                    k, "Camwarden test cameras", "Source/Video",
                    "Live test cameras for trying the program without a webcam", "Quillory");
                G_OBJECT_CLASS(klass)->finalize = [](GObject* object) {
                    auto* p = reinterpret_cast<TestProvider*>(object);
                    p->self.~unique_ptr();
                    G_OBJECT_CLASS(g_type_class_peek(GST_TYPE_DEVICE_PROVIDER))->finalize(object);
                };
            },
            nullptr,
            nullptr,
            sizeof(TestProvider),
            0,
            [](GTypeInstance* instance, gpointer) {
                new (&reinterpret_cast<TestProvider*>(instance)->self)
                    std::unique_ptr<ProviderState>(std::make_unique<ProviderState>());
            },
            nullptr};
        return g_type_register_static(GST_TYPE_DEVICE_PROVIDER, "CamwardenTestCameraProvider",
                                      &info, GTypeFlags(0));
    }();
    return type;
}

GstObjectPtr<GstDeviceProvider> Provider() {
    return GstObjectPtr<GstDeviceProvider>(
        gst_device_provider_factory_get_by_name(kTestProviderName));
}

}  // namespace

std::optional<TestCameraKind> TestCameraFromName(const QString& name) {
    if (name == QLatin1String(kRawName)) return TestCameraKind::Raw;
    if (name == QLatin1String(kMjpegName)) return TestCameraKind::Mjpeg;
    return std::nullopt;
}

QString TestCameraName(TestCameraKind kind) {
    return QLatin1String(kind == TestCameraKind::Mjpeg ? kMjpegName : kRawName);
}

bool RegisterTestCameraProvider() {
    // Marginal: listed by a device monitor, never preferred over a real camera.
    return gst_device_provider_register(nullptr, kTestProviderName, GST_RANK_MARGINAL,
                                        TestProviderType());
}

void PlugTestCamera(TestCameraKind kind, const std::shared_ptr<TestCameraState>& state) {
    const auto provider = Provider();
    if (!provider || !state) return;
    state->plugged = true;
    // Asked before taking the lock: starting the provider takes them the other way round.
    const bool started = gst_device_provider_is_started(provider.get());
    ProviderState& s = Self(provider.get());
    std::lock_guard lock(s.m);
    if (std::any_of(s.offers.begin(), s.offers.end(),
                    [&](const Offer& o) { return o.camera == state; }))
        return;
    Offer& o = s.offers.emplace_back(Offer{kind, state, nullptr});
    if (started) {
        o.device = NewDevice(kind, state);
        gst_device_provider_device_add(provider.get(), o.device);
    }
}

void UnplugTestCamera(const std::shared_ptr<TestCameraState>& state) {
    if (!state) return;
    state->plugged = false;
    const auto provider = Provider();
    if (!provider) return;
    ProviderState& s = Self(provider.get());
    std::lock_guard lock(s.m);
    const auto it = std::find_if(s.offers.begin(), s.offers.end(),
                                 [&](const Offer& o) { return o.camera == state; });
    if (it == s.offers.end()) return;
    if (it->device) gst_device_provider_device_remove(provider.get(), it->device);
    s.offers.erase(it);
}

}  // namespace camwarden::capgst
