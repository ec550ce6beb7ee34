#include "platform/gst/Camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {
namespace {

constexpr auto kTestRawName = "test";
constexpr auto kTestMjpegName = "test-mjpeg";

// Closes the descriptor on every way out.
class Fd {
public:
    explicit Fd(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

int Xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

QString TestCaps(bool withMjpeg) {
    // The sizes and rates a common webcam offers; MJPEG listed first, as
    // such cameras do.
    const char* sizes[] = {"width=640,height=480", "width=320,height=240", "width=1280,height=720"};
    const char* rates = "framerate={30/1,25/1,20/1,15/1,10/1,5/1}";
    QStringList parts;
    if (withMjpeg) {
        for (const char* s : sizes) parts << QStringLiteral("image/jpeg,%1,%2").arg(s, rates);
    }
    for (const char* s : sizes)
        parts << QStringLiteral("video/x-raw,format=YUY2,%1,%2").arg(s, rates);
    return parts.join(QLatin1String("; "));
}

GstCapsPtr CapsFromString(const QString& s) {
    return GstCapsPtr(gst_caps_from_string(s.toUtf8().constData()));
}

// Intersects the offer with a filter and fixes the first match.
GstCapsPtr FirstMatch(const GstCaps* offered, const QString& filter) {
    const GstCapsPtr f = CapsFromString(filter);
    if (!f) return {};
    GstCapsPtr both(
        gst_caps_intersect_full(f.get(), const_cast<GstCaps*>(offered), GST_CAPS_INTERSECT_FIRST));
    if (!both || gst_caps_is_empty(both.get())) return {};
    return GstCapsPtr(gst_caps_copy_nth(both.get(), 0));
}

bool SizeOf(const GstStructure* s, int* w, int* h) {
    return gst_structure_get_int(s, "width", w) && gst_structure_get_int(s, "height", h);
}

}  // namespace

bool IsCaptureDevice(const QString& path, QString* card) {
    const Fd fd(path);
    if (fd.get() < 0) return false;
    v4l2_capability cap{};
    if (Xioctl(fd.get(), VIDIOC_QUERYCAP, &cap) < 0) return false;
    const uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))) return false;
    if (card) *card = QString::fromUtf8(reinterpret_cast<const char*>(cap.card));
    return true;
}

std::vector<DeviceEntry> ListCaptureDevices() {
    const QDir dev(QStringLiteral("/dev"));
    std::vector<std::pair<int, QString>> nodes;
    for (const QString& name : dev.entryList({QStringLiteral("video*")}, QDir::System)) {
        bool ok = false;
        const int n = name.mid(5).toInt(&ok);
        if (ok) nodes.emplace_back(n, dev.filePath(name));
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<DeviceEntry> out;
    for (const auto& [n, path] : nodes) {
        QString card;
        if (IsCaptureDevice(path, &card)) out.push_back({path, card});
    }
    return out;
}

Camera CameraFromName(const QString& name) {
    if (name == QLatin1String(kTestRawName)) return {CameraKind::TestRaw, name};
    if (name == QLatin1String(kTestMjpegName)) return {CameraKind::TestMjpeg, name};
    return {CameraKind::Device, name};
}

std::optional<Camera> ResolveCamera(const QString& runChoice, const QString& savedDevice) {
    if (!runChoice.isEmpty()) return CameraFromName(runChoice);
    if (!savedDevice.isEmpty()) return CameraFromName(savedDevice);
    const auto devices = ListCaptureDevices();
    if (devices.empty()) return std::nullopt;
    return Camera{CameraKind::Device, devices.front().path};
}

GstCapsPtr ProbeCameraCaps(const Camera& camera, QString* error) {
    if (camera.IsTest()) return CapsFromString(TestCaps(camera.kind == CameraKind::TestMjpeg));

    if (!IsCaptureDevice(camera.path)) {
        if (error) *error = QStringLiteral("%1 is not a video capture device").arg(camera.path);
        return {};
    }
    const GstElementPtr src = SinkElement(gst_element_factory_make("v4l2src", nullptr));
    if (!src) {
        if (error) *error = QStringLiteral("the v4l2src element is missing");
        return {};
    }
    g_object_set(src.get(), "device", camera.path.toUtf8().constData(), nullptr);
    // In READY the source has the device open and answers with what it offers.
    if (gst_element_set_state(src.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(src.get(), GST_STATE_NULL);
        if (error) *error = QStringLiteral("%1 cannot be opened").arg(camera.path);
        return {};
    }
    const GstPadPtr pad(gst_element_get_static_pad(src.get(), "src"));
    GstCapsPtr caps(pad ? gst_pad_query_caps(pad.get(), nullptr) : nullptr);
    gst_element_set_state(src.get(), GST_STATE_NULL);
    if (!caps || gst_caps_is_empty(caps.get()) || gst_caps_is_any(caps.get())) {
        if (error) *error = QStringLiteral("%1 offers no video format").arg(camera.path);
        return {};
    }
    return caps;
}

Fraction FrameRateFromMicroSeconds(uint32_t us) {
    if (us == 0) return {15, 1};
    const double fps = 1e6 / us;
    const double whole = std::round(fps);
    if (whole >= 1 && std::abs(fps - whole) < whole * 1e-3) return {static_cast<int>(whole), 1};
    const double ntsc = std::round(fps * 1.001);
    if (ntsc >= 1 && std::abs(fps - ntsc / 1.001) < 1e-3)
        return {static_cast<int>(ntsc) * 1000, 1001};
    int n = 0;
    int d = 1;
    gst_util_double_to_fraction(fps, &n, &d);
    if (n <= 0) return {1, static_cast<int>(std::clamp<uint32_t>(us / 1000000, 1, 3600))};
    return {n, d};
}

uint32_t MicroSecondsFromFrameRate(Fraction rate) {
    if (rate.num <= 0 || rate.den <= 0) return 0;
    // The field holds 32 bits: a slower rate than it can state gets the slowest it can.
    const double us = std::round(1e6 * rate.den / rate.num);
    return us >= double(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(us);
}

Fraction BoundedFrameRate(Fraction rate) {
    if (rate.num <= 0 || rate.den <= 0) return {15, 1};
    if (int64_t(rate.num) > int64_t(kMaxFramesPerSecond) * rate.den)
        return {kMaxFramesPerSecond, 1};
    if (rate.num < rate.den) return {1, 1};
    return rate;
}

namespace {

bool Offers(const GstCaps* offered, const char* media) {
    if (!offered) return false;
    for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
        if (gst_structure_has_name(gst_caps_get_structure(offered, i), media)) return true;
    }
    return false;
}

}  // namespace

bool OffersMjpeg(const GstCaps* offered) {
    return Offers(offered, "image/jpeg");
}

bool UsesMjpeg(const GstCaps* offered, const DriverSettings& settings) {
    // An MJPEG-only camera is passed through even when encoding is asked
    // for: decoding only to encode again would just lose quality.
    return OffersMjpeg(offered) && (settings.passMjpeg || !Offers(offered, "video/x-raw"));
}

std::optional<ChosenFormat> ChooseFormat(const GstCaps* offered, const DriverSettings& settings,
                                         Fraction requested) {
    if (!offered || gst_caps_is_empty(offered) || gst_caps_is_any(offered)) return std::nullopt;
    requested = BoundedFrameRate(requested);

    const bool mjpeg = UsesMjpeg(offered, settings);

    // Raw layouts in order of preference: 4:2:0 goes into the encoder as is.
    const QStringList kinds = mjpeg ? QStringList{QStringLiteral("image/jpeg")}
                                    : QStringList{QStringLiteral("video/x-raw,format=I420"),
                                                  QStringLiteral("video/x-raw,format=YV12"),
                                                  QStringLiteral("video/x-raw,format=NV12"),
                                                  QStringLiteral("video/x-raw,format=YUY2"),
                                                  QStringLiteral("video/x-raw,format=UYVY"),
                                                  QStringLiteral("video/x-raw")};
    QStringList sizes;
    if (settings.width > 0 && settings.height > 0)
        sizes << QStringLiteral(",width=%1,height=%2").arg(settings.width).arg(settings.height);
    sizes << QStringLiteral(",width=640,height=480") << QString();

    GstCapsPtr match;
    for (const QString& size : sizes) {
        for (const QString& kind : kinds) {
            match = FirstMatch(offered, kind + size);
            if (match) break;
        }
        if (match) break;
    }
    if (!match) return std::nullopt;

    GstStructure* s = gst_caps_get_structure(match.get(), 0);
    gst_structure_fixate_field_nearest_int(s, "width", 640);
    gst_structure_fixate_field_nearest_int(s, "height", 480);
    int width = 0;
    int height = 0;
    if (!SizeOf(s, &width, &height)) return std::nullopt;

    // Prefer a rate no slower than asked; otherwise the nearest one.
    Fraction source = requested;
    if (gst_structure_has_field(s, "framerate")) {
        GstStructurePtr faster(gst_structure_copy(s));
        GValue range = G_VALUE_INIT;
        g_value_init(&range, GST_TYPE_FRACTION_RANGE);
        gst_value_set_fraction_range_full(&range, requested.num, requested.den, G_MAXINT, 1);
        GValue both = G_VALUE_INIT;
        const GValue* offeredRates = gst_structure_get_value(s, "framerate");
        GstStructure* pick = s;
        if (gst_value_intersect(&both, offeredRates, &range)) {
            gst_structure_take_value(faster.get(), "framerate", &both);
            pick = faster.get();
        }
        g_value_unset(&range);
        gst_structure_fixate_field_nearest_fraction(pick, "framerate", requested.num,
                                                    requested.den);
        if (!gst_structure_get_fraction(pick, "framerate", &source.num, &source.den))
            source = requested;
    }

    ChosenFormat out;
    out.mjpeg = mjpeg;
    out.width = width;
    out.height = height;
    out.sourceRate = source;
    out.outputRate = requested;
    GstStructure* fixed = gst_structure_new(gst_structure_get_name(s), "width", G_TYPE_INT, width,
                                            "height", G_TYPE_INT, height, "framerate",
                                            GST_TYPE_FRACTION, source.num, source.den, nullptr);
    if (!mjpeg) {
        const gchar* format = gst_structure_get_string(s, "format");
        if (!format) {
            gst_structure_fixate_field_string(s, "format", "I420");
            format = gst_structure_get_string(s, "format");
        }
        if (format) gst_structure_set(fixed, "format", G_TYPE_STRING, format, nullptr);
    }
    out.sourceCaps.reset(gst_caps_new_full(fixed, nullptr));
    return out;
}

namespace {

struct UnplugProbe {
    std::shared_ptr<TestCameraState> state;
    bool reported = false;
};

// A pulled plug ends the stream the way a vanished device does: an error
// from the source, and no more frames.
GstPadProbeReturn OnTestFrame(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* probe = static_cast<UnplugProbe*>(data);
    if (probe->state->plugged.load()) return GST_PAD_PROBE_OK;
    if (!probe->reported) {
        probe->reported = true;
        const GstObjectPtr<GstElement> src(gst_pad_get_parent_element(pad));
        GST_ELEMENT_ERROR(src.get(), RESOURCE, READ, ("The test camera was unplugged."), (nullptr));
    }
    return GST_PAD_PROBE_DROP;
}

// The test camera's picture controls, in the whole-number units a webcam
// driver uses; they act through videobalance.
constexpr struct {
    const char* name;
    const char* label;
    int minimum, maximum, neutral;
} kTestControls[] = {{"brightness", "Brightness", -100, 100, 0},
                     {"contrast", "Contrast", 0, 200, 100}};

// videobalance properties for the chosen controls; none when all are neutral.
std::vector<std::pair<const char*, double>> TestBalance(const DriverSettings& settings) {
    std::vector<std::pair<const char*, double>> out;
    for (const auto& c : kTestControls) {
        const int v = std::clamp(settings.controls.value(QLatin1String(c.name), c.neutral),
                                 c.minimum, c.maximum);
        if (v != c.neutral) out.emplace_back(c.name, v / 100.0);
    }
    return out;
}

QString BalanceText(const DriverSettings& settings) {
    QString out;
    for (const auto& [name, value] : TestBalance(settings))
        out += QStringLiteral(" %1=%2").arg(QLatin1String(name)).arg(value);
    return out;
}

using FrameLoop = std::shared_ptr<const std::vector<GstBufferPtr>>;

// One second of the moving ball, compressed once and kept for the run.
FrameLoop MjpegLoop(const ChosenFormat& f, const QString& balance, TestCameraState& state) {
    const QString key = QStringLiteral("%1x%2@%3/%4%5")
                            .arg(f.width)
                            .arg(f.height)
                            .arg(f.sourceRate.num)
                            .arg(f.sourceRate.den)
                            .arg(balance);
    std::lock_guard lock(state.m);
    if (const auto it = state.mjpegLoops.find(key); it != state.mjpegLoops.end()) return it->second;

    const int count =
        std::clamp(int(std::lround(double(f.sourceRate.num) / f.sourceRate.den)), 1, 60);
    const QString description = QStringLiteral(
                                    "videotestsrc pattern=ball num-buffers=%1 ! "
                                    "video/x-raw,format=I420,width=%2,height=%3,framerate=%4/%5 ! "
                                    "%6 jpegenc ! fakesink name=out")
                                    .arg(count)
                                    .arg(f.width)
                                    .arg(f.height)
                                    .arg(f.sourceRate.num)
                                    .arg(f.sourceRate.den)
                                    .arg(balance.isEmpty() ? QString()
                                                           : QStringLiteral("videobalance") +
                                                                 balance + QStringLiteral(" !"));
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
    state.mjpegLoops.emplace(key, frames);
    return frames;
}

struct Replay {
    FrameLoop frames;
    std::shared_ptr<TestCameraState> state;
    Fraction rate;
    uint64_t next = 0;
    bool reported = false;
};

// Runs on the source's own thread: waits for the frame's moment on the
// pipeline clock, as a camera delivers at its own pace, then hands it over.
void OnNeedData(GstElement* appsrc, guint, gpointer data) {
    auto* r = static_cast<Replay*>(data);
    if (!r->state->plugged.load()) {
        if (!r->reported) {
            r->reported = true;
            GST_ELEMENT_ERROR(appsrc, RESOURCE, READ, ("The test camera was unplugged."),
                              (nullptr));
        }
        return;
    }
    const GstClockTime pts = gst_util_uint64_scale(r->next, GST_SECOND * r->rate.den, r->rate.num);
    const GstClockTime duration = gst_util_uint64_scale(GST_SECOND, r->rate.den, r->rate.num);
    if (const GstObjectPtr<GstClock> clock(gst_element_get_clock(appsrc)); clock) {
        const GstClockID id =
            gst_clock_new_single_shot_id(clock.get(), gst_element_get_base_time(appsrc) + pts);
        gst_clock_id_wait(id, nullptr);
        gst_clock_id_unref(id);
    }
    const GstBufferPtr frame(gst_buffer_copy((*r->frames)[r->next % r->frames->size()].get()));
    GST_BUFFER_PTS(frame.get()) = pts;
    GST_BUFFER_DTS(frame.get()) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(frame.get()) = duration;
    GstFlowReturn ret = GST_FLOW_OK;
    g_signal_emit_by_name(appsrc, "push-buffer", frame.get(), &ret);
    ++r->next;
}

GstElementPtr MakeMjpegTestSource(const ChosenFormat& format, const DriverSettings& settings,
                                  const std::shared_ptr<TestCameraState>& state) {
    FrameLoop frames = MjpegLoop(format, BalanceText(settings), *state);
    GstElementPtr src = SinkElement(gst_element_factory_make("appsrc", nullptr));
    if (!frames || !src) return {};
    const GstCapsPtr caps(gst_caps_new_simple(
        "image/jpeg", "width", G_TYPE_INT, format.width, "height", G_TYPE_INT, format.height,
        "framerate", GST_TYPE_FRACTION, format.sourceRate.num, format.sourceRate.den, nullptr));
    g_object_set(src.get(), "caps", caps.get(), "is-live", TRUE, "format", GST_FORMAT_TIME,
                 "emit-signals", TRUE, nullptr);
    g_signal_connect_data(
        src.get(), "need-data", G_CALLBACK(OnNeedData),
        new Replay{std::move(frames), state, format.sourceRate},
        [](gpointer p, GClosure*) { delete static_cast<Replay*>(p); }, GConnectFlags(0));
    return src;
}

GstElementPtr MakeTestSource(const Camera& camera, const ChosenFormat& format,
                             const DriverSettings& settings,
                             const std::shared_ptr<TestCameraState>& state) {
    if (!state) return {};
    if (camera.kind == CameraKind::TestMjpeg && format.mjpeg)
        return MakeMjpegTestSource(format, settings, state);

    GstElementPtr src = SinkElement(gst_element_factory_make("videotestsrc", nullptr));
    if (!src) return {};
    // A moving ball, so that every frame differs from the one before.
    gst_util_set_object_arg(G_OBJECT(src.get()), "pattern", "ball");
    g_object_set(src.get(), "is-live", TRUE, nullptr);
    const GstPadPtr pad(gst_element_get_static_pad(src.get(), "src"));
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, OnTestFrame, new UnplugProbe{state},
                      [](gpointer p) { delete static_cast<UnplugProbe*>(p); });
    const auto balance = TestBalance(settings);
    if (balance.empty()) return src;

    GstElementPtr bin = SinkElement(gst_bin_new("testcamera"));
    GstElement* adjust = gst_element_factory_make("videobalance", nullptr);
    if (!adjust) return {};
    for (const auto& [name, value] : balance) g_object_set(adjust, name, value, nullptr);
    gst_bin_add_many(GST_BIN(bin.get()), src.get(), adjust, nullptr);
    if (!gst_element_link(src.get(), adjust)) return {};
    const GstPadPtr out(gst_element_get_static_pad(adjust, "src"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", out.get()));
    return bin;
}

}  // namespace

GstElementPtr MakeCameraSource(const Camera& camera, const ChosenFormat& format,
                               const DriverSettings& settings,
                               const std::shared_ptr<TestCameraState>& testState) {
    if (camera.IsTest()) return MakeTestSource(camera, format, settings, testState);

    GstElementPtr src = SinkElement(gst_element_factory_make("v4l2src", nullptr));
    if (!src) return {};
    g_object_set(src.get(), "device", camera.path.toUtf8().constData(), nullptr);
    if (!settings.controls.isEmpty()) {
        const GstStructurePtr controls(gst_structure_new_empty("controls"));
        for (auto it = settings.controls.cbegin(); it != settings.controls.cend(); ++it)
            gst_structure_set(controls.get(), it.key().toUtf8().constData(), G_TYPE_INT, it.value(),
                              nullptr);
        g_object_set(src.get(), "extra-controls", controls.get(), nullptr);
    }
    return src;
}

QString NormaliseControlName(const QString& driverName) {
    // The same spelling GStreamer's v4l2 source expects in extra-controls.
    QString out;
    for (const QChar c : driverName.toLower()) out += c.isLetterOrNumber() ? c : QLatin1Char('_');
    return out;
}

std::vector<PictureControl> QueryPictureControls(const Camera& camera) {
    std::vector<PictureControl> out;
    if (camera.IsTest()) {
        for (const auto& c : kTestControls) {
            out.push_back({QLatin1String(c.name), QLatin1String(c.label), c.minimum, c.maximum, 1,
                           c.neutral, c.neutral, false});
        }
        return out;
    }
    const Fd fd(camera.path);
    if (fd.get() < 0) return out;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Xioctl(fd.get(), VIDIOC_QUERYCTRL, &q) == 0) {
        const bool usable = !(q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY |
                                         V4L2_CTRL_FLAG_INACTIVE)) &&
                            (q.type == V4L2_CTRL_TYPE_INTEGER || q.type == V4L2_CTRL_TYPE_BOOLEAN);
        if (usable) {
            v4l2_control c{};
            c.id = q.id;
            PictureControl pc;
            const QString label = QString::fromUtf8(reinterpret_cast<const char*>(q.name));
            pc.name = NormaliseControlName(label);
            pc.label = label;
            pc.minimum = q.minimum;
            pc.maximum = q.maximum;
            pc.step = q.step > 0 ? q.step : 1;
            pc.defaultValue = q.default_value;
            pc.value = Xioctl(fd.get(), VIDIOC_G_CTRL, &c) == 0 ? c.value : q.default_value;
            pc.boolean = q.type == V4L2_CTRL_TYPE_BOOLEAN;
            out.push_back(pc);
        }
        q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return out;
}

}  // namespace camwarden::capgst
