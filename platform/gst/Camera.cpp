#include "platform/gst/Camera.h"

#include <gst/video/colorbalance.h>

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {
namespace {

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

QString StringProperty(const GstStructure* props, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        if (const gchar* v = props ? gst_structure_get_string(props, key) : nullptr; v && *v)
            return QString::fromUtf8(v);
    }
    return {};
}

// Lower is preferred. v4l2 opens the node itself and stamps each frame when
// it was taken; GStreamer 1.22's PipeWire source passes on whatever time the
// camera's node gives, and a node shared by other programs may stop
// delivering after one of them leaves. PipeWire is for what nothing else lists.
int ProviderRank(const QString& provider) {
    if (provider == QLatin1String("v4l2deviceprovider")) return 0;
    if (provider == QLatin1String("pipewiredeviceprovider")) return 1;
    if (provider == QLatin1String("libcameraprovider")) return 2;
    if (provider == QLatin1String(kTestProviderName)) return 4;
    return 3;
}

// Nodes in their numeric order: /dev/video2 before /dev/video10.
bool PathBefore(const QString& a, const QString& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

// The same physical camera when seen by two providers: the same device
// node, or without one (libcamera) the same name.
bool SamePhysical(const Camera& a, const Camera& b) {
    if (!a.path.isEmpty() && !b.path.isEmpty()) return a.path == b.path;
    return a.name == b.name;
}

}  // namespace

Camera CameraFromDevice(GstDevice* device) {
    Camera c;
    if (!device) return c;
    const GCharPtr name(gst_device_get_display_name(device));
    c.name = QString::fromUtf8(name.get());
    const GstStructurePtr props(gst_device_get_properties(device));
    c.path = StringProperty(props.get(), {"api.v4l2.path", "device.path"});
    c.busPath = StringProperty(props.get(), {"device.bus_path", "device.bus-path"});
    c.serial = StringProperty(props.get(), {"device.serial"});
    if (const GstObjectPtr<GstObject> parent(gst_object_get_parent(GST_OBJECT(device)));
        parent && GST_IS_DEVICE_PROVIDER(parent.get())) {
        if (GstDeviceProviderFactory* f =
                gst_device_provider_get_factory(GST_DEVICE_PROVIDER(parent.get())))
            c.provider = QString::fromUtf8(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(f)));
    }
    c.device = std::shared_ptr<GstDevice>(GST_DEVICE(gst_object_ref(device)), gst_object_unref);
    return c;
}

std::vector<Camera> DistinctCameras(std::vector<Camera> all) {
    std::stable_sort(all.begin(), all.end(), [](const Camera& a, const Camera& b) {
        const int ra = ProviderRank(a.provider);
        const int rb = ProviderRank(b.provider);
        if (ra != rb) return ra < rb;
        return PathBefore(a.path, b.path);
    });
    std::vector<Camera> out;
    for (Camera& c : all) {
        // Two cameras of one provider are two cameras, however alike.
        const bool shown = std::any_of(out.begin(), out.end(), [&](const Camera& kept) {
            return kept.provider != c.provider && SamePhysical(kept, c);
        });
        if (!shown) out.push_back(std::move(c));
    }
    return out;
}

std::optional<Camera> ResolveCamera(const std::vector<Camera>& cameras, const QString& runChoice,
                                    const DriverSettings& saved) {
    const auto find = [&](auto pred) -> std::optional<Camera> {
        const auto it = std::find_if(cameras.begin(), cameras.end(), pred);
        if (it == cameras.end()) return std::nullopt;
        return *it;
    };
    if (!runChoice.isEmpty())
        return find([&](const Camera& c) { return c.path == runChoice || c.name == runChoice; });
    const auto named = [&](const Camera& c) {
        return saved.deviceName.isEmpty() || c.name == saved.deviceName;
    };
    if (!saved.deviceId.isEmpty()) {
        if (auto c =
                find([&](const Camera& c) { return c.StableId() == saved.deviceId && named(c); }))
            return c;
    }
    if (!saved.device.isEmpty()) {
        // A node may have been given to another camera since: the name says.
        if (auto c = find([&](const Camera& c) { return c.path == saved.device && named(c); }))
            return c;
    }
    // A camera without anything stable is known by its name alone.
    if (saved.deviceId.isEmpty() && !saved.deviceName.isEmpty())
        return find([&](const Camera& c) { return c.name == saved.deviceName; });
    if (!saved.device.isEmpty() || !saved.deviceId.isEmpty()) return std::nullopt;
    if (cameras.empty()) return std::nullopt;
    return cameras.front();
}

void RememberCamera(const Camera& camera, DriverSettings& settings) {
    settings.device = camera.path;
    settings.deviceName = camera.name;
    settings.deviceId = camera.StableId();
}

GstCapsPtr CameraCaps(const Camera& camera) {
    if (!camera.device) return {};
    GstCapsPtr caps(gst_device_get_caps(camera.device.get()));
    if (!caps || gst_caps_is_empty(caps.get()) || gst_caps_is_any(caps.get())) return {};
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

bool PlausibleFrameRate(Fraction rate) {
    return rate.num > 0 && rate.den > 0 && rate.num >= rate.den &&
           int64_t(rate.num) <= int64_t(kMaxCameraFramesPerSecond) * rate.den;
}

Fraction FrameRateFor(const GstCaps* offered, Fraction requested) {
    if (!offered || !PlausibleFrameRate(requested)) return BoundedFrameRate(requested);
    GValue wanted = G_VALUE_INIT;
    g_value_init(&wanted, GST_TYPE_FRACTION);
    gst_value_set_fraction(&wanted, requested.num, requested.den);
    bool listed = false;
    for (guint i = 0; i < gst_caps_get_size(offered) && !listed; ++i) {
        const GValue* rates =
            gst_structure_get_value(gst_caps_get_structure(offered, i), "framerate");
        listed = rates && gst_value_intersect(nullptr, rates, &wanted);
    }
    g_value_unset(&wanted);
    return listed ? requested : BoundedFrameRate(requested);
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

bool OffersRaw(const GstCaps* offered) {
    return Offers(offered, "video/x-raw");
}

bool UsesMjpeg(const GstCaps* offered, const DriverSettings& settings) {
    // An MJPEG-only camera is passed through even when encoding is asked
    // for: decoding only to encode again would just lose quality.
    return OffersMjpeg(offered) && (settings.passMjpeg || !Offers(offered, "video/x-raw"));
}

std::optional<ChosenFormat> ChooseFormat(const GstCaps* offered, const DriverSettings& settings,
                                         Fraction requested) {
    if (!offered || gst_caps_is_empty(offered) || gst_caps_is_any(offered)) return std::nullopt;
    requested = FrameRateFor(offered, requested);

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

GstElementPtr MakeCameraSource(const Camera& camera) {
    if (!camera.device) return {};
    return SinkElement(gst_device_create_element(camera.device.get(), nullptr));
}

namespace {

// The source's colour balance: its own, or that of an element inside it.
GstObjectPtr<GstColorBalance> BalanceOf(GstElement* source) {
    if (!source) return {};
    if (GST_IS_COLOR_BALANCE(source))
        return GstObjectPtr<GstColorBalance>(GST_COLOR_BALANCE(gst_object_ref(source)));
    if (GST_IS_BIN(source)) {
        GstElement* inner = gst_bin_get_by_interface(GST_BIN(source), GST_TYPE_COLOR_BALANCE);
        return GstObjectPtr<GstColorBalance>(inner ? GST_COLOR_BALANCE(inner) : nullptr);
    }
    return {};
}

}  // namespace

QString NormaliseControlName(const QString& label) {
    // The spelling the controls were saved under before: lower case, with
    // anything but letters and digits made an underscore.
    QString out;
    for (const QChar c : label.toLower()) out += c.isLetterOrNumber() ? c : QLatin1Char('_');
    return out;
}

namespace {

// Picture properties some sources have instead of a colour balance;
// libcamera's source has them as fractions.
constexpr const char* kPictureProperties[] = {"brightness", "contrast", "saturation", "hue",
                                              "sharpness"};
// A property ranging wider than this is no picture control, just a number
// the element passes on (v4l2src's take any int).
constexpr double kWidestRange = 1e6;
// Fractions are shown and saved in hundredths.
constexpr double kFractionScale = 100;

struct PropertyControl {
    GParamSpec* param = nullptr;
    double scale = 1;
    double minimum = 0;
    double maximum = 0;
    double defaultValue = 0;
};

std::optional<PropertyControl> PictureProperty(GstElement* source, const char* name) {
    GParamSpec* param = g_object_class_find_property(G_OBJECT_GET_CLASS(source), name);
    if (!param || (param->flags & G_PARAM_READWRITE) != G_PARAM_READWRITE ||
        (param->flags & G_PARAM_CONSTRUCT_ONLY))
        return std::nullopt;
    PropertyControl p{param};
    const auto take = [&p](const auto* range, double scale) {
        p.scale = scale;
        p.minimum = range->minimum;
        p.maximum = range->maximum;
        p.defaultValue = range->default_value;
    };
    if (G_IS_PARAM_SPEC_INT(param))
        take(G_PARAM_SPEC_INT(param), 1);
    else if (G_IS_PARAM_SPEC_DOUBLE(param))
        take(G_PARAM_SPEC_DOUBLE(param), kFractionScale);
    else if (G_IS_PARAM_SPEC_FLOAT(param))
        take(G_PARAM_SPEC_FLOAT(param), kFractionScale);
    else
        return std::nullopt;
    if (!(p.maximum > p.minimum) || (p.maximum - p.minimum) * p.scale > kWidestRange)
        return std::nullopt;
    return p;
}

int Scaled(const PropertyControl& p, double v) {
    return static_cast<int>(std::lround(v * p.scale));
}

int PropertyValue(GstElement* source, const PropertyControl& p) {
    GValue v = G_VALUE_INIT;
    g_value_init(&v, p.param->value_type);
    g_object_get_property(G_OBJECT(source), p.param->name, &v);
    double value = 0;
    if (G_VALUE_HOLDS_INT(&v)) value = g_value_get_int(&v);
    if (G_VALUE_HOLDS_DOUBLE(&v)) value = g_value_get_double(&v);
    if (G_VALUE_HOLDS_FLOAT(&v)) value = g_value_get_float(&v);
    g_value_unset(&v);
    return Scaled(p, value);
}

void SetPropertyValue(GstElement* source, const PropertyControl& p, int chosen) {
    const double value = std::clamp(chosen / p.scale, p.minimum, p.maximum);
    if (G_IS_PARAM_SPEC_INT(p.param))
        g_object_set(source, p.param->name, static_cast<int>(std::lround(value)), nullptr);
    else if (G_IS_PARAM_SPEC_DOUBLE(p.param))
        g_object_set(source, p.param->name, value, nullptr);
    else
        g_object_set(source, p.param->name, static_cast<float>(value), nullptr);
}

}  // namespace

std::vector<PictureControl> ReadPictureControls(GstElement* source) {
    std::vector<PictureControl> out;
    if (const auto balance = BalanceOf(source)) {
        for (const GList* l = gst_color_balance_list_channels(balance.get()); l; l = l->next) {
            auto* ch = static_cast<GstColorBalanceChannel*>(l->data);
            if (!ch || !ch->label || ch->min_value >= ch->max_value) continue;
            PictureControl pc;
            pc.label = QString::fromUtf8(ch->label);
            pc.name = NormaliseControlName(pc.label);
            pc.minimum = ch->min_value;
            pc.maximum = ch->max_value;
            pc.value =
                std::clamp(gst_color_balance_get_value(balance.get(), ch), pc.minimum, pc.maximum);
            // A colour balance states no default: the camera's own is what
            // it has before anything is chosen.
            pc.defaultValue = pc.value;
            out.push_back(pc);
        }
    }
    for (const char* name : kPictureProperties) {
        const QString key = QLatin1String(name);
        if (!source || std::any_of(out.begin(), out.end(),
                                   [&](const PictureControl& c) { return c.name == key; }))
            continue;
        const auto p = PictureProperty(source, name);
        if (!p) continue;
        PictureControl pc;
        pc.name = key;
        pc.label = key.left(1).toUpper() + key.mid(1);
        pc.minimum = Scaled(*p, p->minimum);
        pc.maximum = Scaled(*p, p->maximum);
        pc.defaultValue = std::clamp(Scaled(*p, p->defaultValue), pc.minimum, pc.maximum);
        pc.value = std::clamp(PropertyValue(source, *p), pc.minimum, pc.maximum);
        out.push_back(pc);
    }
    return out;
}

void ApplyPictureControls(GstElement* source, const QMap<QString, int>& chosen) {
    if (chosen.isEmpty() || !source) return;
    QStringList done;
    if (const auto balance = BalanceOf(source)) {
        for (const GList* l = gst_color_balance_list_channels(balance.get()); l; l = l->next) {
            auto* ch = static_cast<GstColorBalanceChannel*>(l->data);
            if (!ch || !ch->label) continue;
            const QString key = NormaliseControlName(QString::fromUtf8(ch->label));
            const auto it = chosen.constFind(key);
            if (it == chosen.cend()) continue;
            gst_color_balance_set_value(balance.get(), ch,
                                        std::clamp(it.value(), ch->min_value, ch->max_value));
            done << key;
        }
    }
    for (const char* name : kPictureProperties) {
        const auto it = chosen.constFind(QLatin1String(name));
        if (it == chosen.cend() || done.contains(it.key())) continue;
        if (const auto p = PictureProperty(source, name)) SetPropertyValue(source, *p, it.value());
    }
}

std::vector<PictureControl> QueryPictureControls(const Camera& camera) {
    const GstElementPtr src = MakeCameraSource(camera);
    if (!src) return {};
    // A source has its device open, and its controls, from READY on.
    std::vector<PictureControl> out;
    if (gst_element_set_state(src.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE)
        out = ReadPictureControls(src.get());
    gst_element_set_state(src.get(), GST_STATE_NULL);
    return out;
}

}  // namespace camwarden::capgst
