#include "GstAvi.h"

#include <gst/pbutils/pbutils.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/gst/GstPtr.h"

namespace camwarden::testing {
namespace {

using capgst::GErrorPtr;
using capgst::GstBufferPtr;
using capgst::GstBusPtr;
using capgst::GstCapsPtr;
using capgst::GstElementPtr;
using capgst::GstMessagePtr;
using capgst::GstPadPtr;
using capgst::SinkElement;

// Buffers the file sink has taken: a frame's data, and the pad byte after
// each odd-sized one.
struct Written {
    std::mutex m;
    std::condition_variable changed;
    gsize frameSize = 0;
    int frames = 0;
    int pads = 0;
};

GstPadProbeReturn CountWritten(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* w = static_cast<Written*>(data);
    const gsize size = gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    {
        std::lock_guard lock(w->m);
        if (size == w->frameSize) ++w->frames;
        if (size == 1) ++w->pads;
    }
    w->changed.notify_all();
    return GST_PAD_PROBE_OK;
}

bool Ended(GstElement* pipeline) {
    GstBusPtr bus(gst_element_get_bus(pipeline));
    GstMessagePtr m(gst_bus_timed_pop_filtered(
        bus.get(), 120 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    return m && GST_MESSAGE_TYPE(m.get()) == GST_MESSAGE_EOS;
}

struct GObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};

GstPadProbeReturn CountBuffer(GstPad*, GstPadProbeInfo*, gpointer count) {
    ++*static_cast<std::atomic<long long>*>(count);
    return GST_PAD_PROBE_OK;
}

}  // namespace

QByteArray EncodeJpeg(int width, int height, const char* pattern, int quality) {
    gst_init(nullptr, nullptr);
    const QByteArray launch = QStringLiteral(
                                  "videotestsrc pattern=%1 num-buffers=1 ! "
                                  "video/x-raw,format=I420,width=%2,height=%3 ! jpegenc quality=%4 "
                                  "! appsink name=sink sync=false")
                                  .arg(QString::fromUtf8(pattern))
                                  .arg(width)
                                  .arg(height)
                                  .arg(quality)
                                  .toUtf8();
    GError* raw = nullptr;
    GstElementPtr pipeline = SinkElement(gst_parse_launch(launch.constData(), &raw));
    GErrorPtr error(raw);
    if (!pipeline || error) return {};
    GstElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    QByteArray jpeg;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        GstSample* sample = nullptr;
        g_signal_emit_by_name(sink.get(), "pull-sample", &sample);
        if (sample) {
            GstMapInfo map;
            GstBuffer* b = gst_sample_get_buffer(sample);
            if (b && gst_buffer_map(b, &map, GST_MAP_READ)) {
                jpeg = QByteArray(reinterpret_cast<const char*>(map.data), qsizetype(map.size));
                gst_buffer_unmap(b, &map);
            }
            gst_sample_unref(sample);
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return jpeg;
}

bool MuxMjpegAvi(const QString& path, const MjpegClip& clip, bool finished) {
    gst_init(nullptr, nullptr);
    GstElementPtr pipeline = SinkElement(gst_pipeline_new(nullptr));
    GstElementPtr src = SinkElement(gst_element_factory_make("appsrc", nullptr));
    GstElementPtr mux = SinkElement(gst_element_factory_make("avimux", nullptr));
    GstElementPtr sink = SinkElement(gst_element_factory_make("filesink", nullptr));
    if (!pipeline || !src || !mux || !sink || clip.jpeg.isEmpty()) return false;
    GstCapsPtr caps(gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, clip.width, "height",
                                        G_TYPE_INT, clip.height, "framerate", GST_TYPE_FRACTION,
                                        clip.fps, 1, nullptr));
    g_object_set(src.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, "block", TRUE, nullptr);
    g_object_set(sink.get(), "location", path.toLocal8Bit().constData(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), src.get(), mux.get(), sink.get(), nullptr);
    if (!gst_element_link_filtered(src.get(), mux.get(), caps.get()) ||
        !gst_element_link(mux.get(), sink.get()))
        return false;

    Written written;
    written.frameSize = gsize(clip.jpeg.size());
    GstPadPtr sinkPad(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, CountWritten, &written, nullptr);
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;

    // Every frame shares the one picture's memory.
    GstBufferPtr picture(gst_buffer_new_memdup(clip.jpeg.constData(), gsize(clip.jpeg.size())));
    const GstClockTime duration = GST_SECOND / guint64(clip.fps);
    bool ok = true;
    for (int i = 0; ok && i < clip.frames; ++i) {
        GstBufferPtr frame(gst_buffer_copy(picture.get()));
        GST_BUFFER_PTS(frame.get()) = guint64(i) * duration;
        GST_BUFFER_DURATION(frame.get()) = duration;
        GstFlowReturn flow = GST_FLOW_OK;
        g_signal_emit_by_name(src.get(), "push-buffer", frame.get(), &flow);
        ok = flow == GST_FLOW_OK;
    }
    if (ok && finished) {
        GstFlowReturn flow = GST_FLOW_OK;
        g_signal_emit_by_name(src.get(), "end-of-stream", &flow);
        ok = Ended(pipeline.get());
    } else if (ok) {
        // Stopping takes the sink's stream lock, so the last write completes.
        const int pads = clip.jpeg.size() % 2 ? clip.frames : 0;
        GstBusPtr bus(gst_element_get_bus(pipeline.get()));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        std::unique_lock lock(written.m);
        while (!written.changed.wait_for(lock, std::chrono::milliseconds(50), [&] {
            return written.frames == clip.frames && written.pads == pads;
        })) {
            if (GstMessagePtr(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)) ||
                std::chrono::steady_clock::now() > deadline) {
                ok = false;
                break;
            }
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return ok;
}

GstAviRead ReadAviWithGStreamer(const QString& path) {
    gst_init(nullptr, nullptr);
    GstAviRead r;
    const QByteArray launch =
        "filesrc location=\"" + path.toLocal8Bit() + "\" ! avidemux ! fakesink name=sink";
    GError* raw = nullptr;
    const GstElementPtr pipeline = SinkElement(gst_parse_launch(launch.constData(), &raw));
    GErrorPtr error(raw);
    if (!pipeline || error) return r;
    std::atomic<long long> buffers = 0;
    const GstElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    const GstPadPtr in(gst_element_get_static_pad(sink.get(), "sink"));
    gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, CountBuffer, &buffers, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    if (Ended(pipeline.get())) r.buffers = buffers;
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);

    raw = nullptr;
    const std::unique_ptr<GstDiscoverer, GObjectUnref> discoverer(
        gst_discoverer_new(30 * GST_SECOND, &raw));
    error.reset(raw);
    const capgst::GCharPtr uri(gst_filename_to_uri(path.toLocal8Bit().constData(), nullptr));
    if (!discoverer || !uri) return r;
    raw = nullptr;
    const std::unique_ptr<GstDiscovererInfo, GObjectUnref> info(
        gst_discoverer_discover_uri(discoverer.get(), uri.get(), &raw));
    error.reset(raw);
    if (info && gst_discoverer_info_get_result(info.get()) == GST_DISCOVERER_OK)
        r.duration = double(gst_discoverer_info_get_duration(info.get())) / GST_SECOND;
    return r;
}

}  // namespace camwarden::testing
