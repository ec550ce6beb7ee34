#include <gtest/gtest.h>

#include "platform/gst/Camera.h"
#include "platform/gst/GstCaptureSystem.h"

namespace camwarden::capgst {
namespace {

// A source with picture properties and no colour balance, as libcamera's
// has: a fraction, a whole number, and a number no picture control means.
struct FakeSource {
    GstElement parent;
    double brightness;
    int contrast;
    int saturation;
};
struct FakeSourceClass {
    GstElementClass parent;
};

enum { kBrightness = 1, kContrast, kSaturation };

GType FakeSourceType() {
    static const GType type = [] {
        const GTypeInfo info{
            sizeof(FakeSourceClass),
            nullptr,
            nullptr,
            [](gpointer klass, gpointer) {
                auto* o = G_OBJECT_CLASS(klass);
                o->set_property = [](GObject* obj, guint id, const GValue* v, GParamSpec*) {
                    auto* s = reinterpret_cast<FakeSource*>(obj);
                    if (id == kBrightness) s->brightness = g_value_get_double(v);
                    if (id == kContrast) s->contrast = g_value_get_int(v);
                    if (id == kSaturation) s->saturation = g_value_get_int(v);
                };
                o->get_property = [](GObject* obj, guint id, GValue* v, GParamSpec*) {
                    auto* s = reinterpret_cast<FakeSource*>(obj);
                    if (id == kBrightness) g_value_set_double(v, s->brightness);
                    if (id == kContrast) g_value_set_int(v, s->contrast);
                    if (id == kSaturation) g_value_set_int(v, s->saturation);
                };
                g_object_class_install_property(
                    o, kBrightness,
                    g_param_spec_double("brightness", "", "", -1, 1, 0, G_PARAM_READWRITE));
                g_object_class_install_property(
                    o, kContrast,
                    g_param_spec_int("contrast", "", "", 0, 255, 128, G_PARAM_READWRITE));
                g_object_class_install_property(o, kSaturation,
                                                g_param_spec_int("saturation", "", "", G_MININT,
                                                                 G_MAXINT, 0, G_PARAM_READWRITE));
            },
            nullptr,
            nullptr,
            sizeof(FakeSource),
            0,
            [](GTypeInstance* instance, gpointer) {
                auto* s = reinterpret_cast<FakeSource*>(instance);
                s->brightness = 0.25;
                s->contrast = 128;
                s->saturation = 0;
            },
            nullptr};
        return g_type_register_static(GST_TYPE_ELEMENT, "CamwardenFakePictureSource", &info,
                                      GTypeFlags(0));
    }();
    return type;
}

TEST(PictureControls, SourcePropertiesServeWhereThereIsNoColourBalance) {
    InitGStreamer();
    const GstElementPtr src = SinkElement(GST_ELEMENT(g_object_new(FakeSourceType(), nullptr)));
    auto controls = ReadPictureControls(src.get());
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].name, "brightness");
    EXPECT_EQ(controls[0].label, "Brightness");
    EXPECT_EQ(controls[0].minimum, -100);
    EXPECT_EQ(controls[0].maximum, 100);
    EXPECT_EQ(controls[0].defaultValue, 0);
    EXPECT_EQ(controls[0].value, 25);
    EXPECT_EQ(controls[1].name, "contrast");
    EXPECT_EQ(controls[1].defaultValue, 128);

    // Out of range is bounded; a number that is no control is left alone.
    ApplyPictureControls(src.get(), {{"brightness", -40}, {"contrast", 300}, {"saturation", 7}});
    const auto* s = reinterpret_cast<FakeSource*>(src.get());
    EXPECT_DOUBLE_EQ(s->brightness, -0.4);
    EXPECT_EQ(s->contrast, 255);
    EXPECT_EQ(s->saturation, 0);

    // A source with neither has no controls to show.
    const GstElementPtr plain = SinkElement(gst_element_factory_make("fakesrc", nullptr));
    EXPECT_TRUE(ReadPictureControls(plain.get()).empty());
}

}  // namespace
}  // namespace camwarden::capgst
