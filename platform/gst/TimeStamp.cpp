#include "platform/gst/TimeStamp.h"

#include <gst/video/video.h>

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/gst/GstPtr.h"

namespace camwarden::capgst {
namespace {

using GstCompositionPtr = std::unique_ptr<GstVideoOverlayComposition, GstMiniObjectUnref>;
using GstRectanglePtr = std::unique_ptr<GstVideoOverlayRectangle, GstMiniObjectUnref>;

// Smaller text than this no eye or reader makes out.
constexpr int kMinPixels = 8;

QFont StampFont(int pixels) {
    // Arial, or its metric match: digits of one width, so the stamp keeps
    // its size as the seconds change.
    QFont f(QStringLiteral("Arial"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(std::max(1, pixels));
    f.setBold(true);
    return f;
}

// What one pad's stamping keeps between frames; only the pad's streaming
// thread touches it.
struct Stamper {
    GstVideoInfo info{};
    bool haveInfo = false;
    GstSegment segment{};
    std::optional<QDateTime> zero;  // the wall time at running time 0
    qint64 second = -1;             // the second the composition shows
    GstCompositionPtr composition;
    GstVideoInfo corner{};  // the part of the frame the composition covers
};

// The wall time at which the pipeline's running time was 0, as its clock
// says now.
QDateTime WallAtRunningZero(GstPad* pad) {
    QDateTime now = QDateTime::currentDateTimeUtc();
    const GstElementPtr element(gst_pad_get_parent_element(pad));
    if (!element) return now;
    const GstObjectPtr<GstClock> clock(gst_element_get_clock(element.get()));
    if (!clock) return now;
    const GstClockTime base = gst_element_get_base_time(element.get());
    const GstClockTime at = gst_clock_get_time(clock.get());
    if (!GST_CLOCK_TIME_IS_VALID(base) || at < base) return now;
    return now.addMSecs(-qint64((at - base) / GST_MSECOND));
}

// The stamp in the frame's own kind of colour, with plain alpha: blending
// it then needs no conversion at each frame, only once a second here.
GstBufferPtr OverlayPixels(const QImage& stamp, const GstVideoInfo& frame) {
    const QImage plain = stamp.convertToFormat(QImage::Format_ARGB32);
    const bool yuv = GST_VIDEO_INFO_IS_YUV(&frame);
    const bool full = frame.colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255;
    const auto luma = [&](double y) { return full ? y : 16 + y * 219 / 255; };
    const auto chroma = [&](double c) { return 128 + (full ? c : c * 224 / 255); };
    const int w = plain.width(), h = plain.height();
    GstBufferPtr pixels(gst_buffer_new_allocate(nullptr, size_t(w) * h * 4, nullptr));
    GstMapInfo map;
    if (!gst_buffer_map(pixels.get(), &map, GST_MAP_WRITE)) return {};
    guint8* out = map.data;
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(plain.constScanLine(y));
        for (int x = 0; x < w; ++x, out += 4) {
            const QRgb c = line[x];
            const double r = qRed(c), g = qGreen(c), b = qBlue(c);
            if (yuv) {  // AYUV, BT.601 as a camera's JPEG has it
                out[0] = guint8(qAlpha(c));
                out[1] = guint8(std::lround(luma(0.299 * r + 0.587 * g + 0.114 * b)));
                out[2] = guint8(std::lround(chroma(-0.168736 * r - 0.331264 * g + 0.5 * b)));
                out[3] = guint8(std::lround(chroma(0.5 * r - 0.418688 * g - 0.081312 * b)));
            } else {  // the composition's RGB, in the machine's order
                std::memcpy(out, &c, 4);
            }
        }
    }
    gst_buffer_unmap(pixels.get(), &map);
    gst_buffer_add_video_meta(
        pixels.get(), GST_VIDEO_FRAME_FLAG_NONE,
        yuv ? GST_VIDEO_OVERLAY_COMPOSITION_FORMAT_YUV : GST_VIDEO_OVERLAY_COMPOSITION_FORMAT_RGB,
        guint(w), guint(h));
    return pixels;
}

GstCompositionPtr Compose(const StampPicture& picture, const GstVideoInfo& frame) {
    const GstBufferPtr pixels = OverlayPixels(picture.image, frame);
    if (!pixels) return {};
    const GstRectanglePtr rect(gst_video_overlay_rectangle_new_raw(
        pixels.get(), picture.at.x(), picture.at.y(), guint(picture.image.width()),
        guint(picture.image.height()), GST_VIDEO_OVERLAY_FORMAT_FLAG_NONE));
    return GstCompositionPtr(gst_video_overlay_composition_new(rect.get()));
}

// The frame as far as the stamp reaches: the blend unpacks and packs whole
// lines, and the stamp covers a corner of them. Same planes, same strides.
GstVideoInfo Corner(const GstVideoInfo& frame, const QRect& stamp) {
    GstVideoInfo corner = frame;
    const auto even = [](int v) { return v + (v & 1); };  // whole chroma samples
    GST_VIDEO_INFO_WIDTH(&corner) = std::min(frame.width, even(stamp.right() + 1));
    GST_VIDEO_INFO_HEIGHT(&corner) = std::min(frame.height, even(stamp.bottom() + 1));
    return corner;
}

GstPadProbeReturn OnData(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* s = static_cast<Stamper*>(data);
    if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            s->haveInfo = caps && gst_video_info_from_caps(&s->info, caps);
            s->composition.reset();  // drawn anew for the new size
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            gst_event_copy_segment(event, &s->segment);
        }
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!s->haveInfo || !buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    const guint64 running =
        gst_segment_to_running_time(&s->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (!GST_CLOCK_TIME_IS_VALID(running)) return GST_PAD_PROBE_OK;
    if (!s->zero) s->zero = WallAtRunningZero(pad);
    const QDateTime when = FrameWallTime(*s->zero, std::chrono::nanoseconds(running));
    const qint64 second = when.toSecsSinceEpoch();
    if (!s->composition || second != s->second) {
        const StampPicture picture = DrawStamp(StampText(when), GST_VIDEO_INFO_WIDTH(&s->info),
                                               GST_VIDEO_INFO_HEIGHT(&s->info));
        s->composition = Compose(picture, s->info);
        s->corner = Corner(s->info, QRect(picture.at, picture.image.size()));
        s->second = second;
        if (!s->composition) return GST_PAD_PROBE_OK;
    }
    buffer = gst_buffer_make_writable(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstVideoFrame frame;
    if (gst_video_frame_map(&frame, &s->corner, buffer, GST_MAP_READWRITE)) {
        gst_video_overlay_composition_blend(s->composition.get(), &frame);
        gst_video_frame_unmap(&frame);
    }
    return GST_PAD_PROBE_OK;
}

}  // namespace

QDateTime FrameWallTime(const QDateTime& clipStart, std::chrono::nanoseconds runningTime) {
    // Whole milliseconds: a frame belongs to the second it began in.
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(runningTime);
    return clipStart.addMSecs(std::max<qint64>(0, ms.count()));
}

QString StampText(const QDateTime& when) {
    return when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

StampPicture DrawStamp(const QString& text, int frameWidth, int frameHeight) {
    int pixels = std::max(kMinPixels, int(std::lround(frameHeight / 20.0)));
    const auto measure = [&](int px, int* width, int* height, int* pad) {
        const QFontMetrics m(StampFont(px));
        *pad = std::max(1, px / 4);
        *width = m.horizontalAdvance(text) + 2 * *pad;
        *height = m.height() + *pad;
    };
    int width = 0, height = 0, pad = 0;
    measure(pixels, &width, &height, &pad);
    // A frame too narrow for the text at that size gets it smaller, whole:
    // first as far as its width says, then a pixel at a time, as text does
    // not narrow exactly in proportion.
    if (width + 2 * pad > frameWidth) {
        pixels = std::max(1, pixels * frameWidth / (width + 2 * pad));
        measure(pixels, &width, &height, &pad);
    }
    while (width + 2 * pad > frameWidth && pixels > 1) measure(--pixels, &width, &height, &pad);
    width = std::clamp(width, 1, std::max(1, frameWidth));
    height = std::clamp(height, 1, std::max(1, frameHeight));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.fillRect(image.rect(), QColor(0, 0, 0, 170));
        p.setPen(Qt::white);
        p.setFont(StampFont(pixels));
        p.drawText(image.rect(), Qt::AlignCenter, text);
    }
    return {image, QPoint(std::clamp(frameWidth - width, 0, pad),
                          std::clamp(frameHeight - height, 0, pad))};
}

void AttachTimeStamp(GstPad* pad) {
    auto stamper = std::make_unique<Stamper>();
    gst_segment_init(&stamper->segment, GST_FORMAT_TIME);
    // The pad owns it from here on and frees it with the probe.
    gst_pad_add_probe(
        pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        &OnData, stamper.release(),
        [](gpointer s) { std::unique_ptr<Stamper>(static_cast<Stamper*>(s)).reset(); });
}

}  // namespace camwarden::capgst
