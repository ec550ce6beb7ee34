#include "platform/gst/CameraFeed.h"

#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {
namespace {

using std::chrono::steady_clock;

GstElement* Make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

}  // namespace

bool CameraFeed::Wanted(const Camera& camera) {
    return camera.provider == QLatin1String("pipewiredeviceprovider");
}

struct CameraFeeds::State {
    std::mutex m;
    std::condition_variable changed;
    std::shared_ptr<CameraFeed> feed;
    steady_clock::time_point lastUse;
    bool stop = false;
    bool closeNow = false;  // quitting: no grace for the next clip

    void Touch() {
        {
            std::lock_guard lock(m);
            lastUse = steady_clock::now();
        }
        changed.notify_all();
    }

    void CloseWhenIdle() {
        std::unique_lock lock(m);
        while (!stop) {
            const auto due =
                closeNow ? steady_clock::now() : lastUse + std::chrono::seconds(kIdleSeconds);
            // Only this holds it: no clip is recording from it.
            if (feed && feed.use_count() == 1 && steady_clock::now() >= due) {
                std::shared_ptr<CameraFeed> idle;
                idle.swap(feed);
                lock.unlock();
                idle.reset();  // may wait on the camera: not under the lock
                lock.lock();
                changed.notify_all();
                continue;
            }
            if (feed) {
                changed.wait_until(lock, due);
            } else {
                changed.wait(lock);
            }
        }
    }
};

CameraFeeds::CameraFeeds() : state_(std::make_shared<State>()) {
    closer_ = std::thread([state = state_.get()] { state->CloseWhenIdle(); });
}

CameraFeeds::~CameraFeeds() {
    std::shared_ptr<CameraFeed> last;
    {
        std::lock_guard lock(state_->m);
        state_->stop = true;
        last = std::move(state_->feed);
    }
    state_->changed.notify_all();
    closer_.join();
}

bool CameraFeeds::Close(std::chrono::milliseconds bound) {
    std::unique_lock lock(state_->m);
    state_->closeNow = true;
    state_->changed.notify_all();
    return state_->changed.wait_for(lock, bound, [&] { return !state_->feed; });
}

std::shared_ptr<CameraFeed> CameraFeeds::Open(const Camera& camera, const GstCaps* caps,
                                              const QMap<QString, int>& controls, QString* error) {
    std::shared_ptr<CameraFeed> old;  // closed once its last clip lets go, outside the lock
    std::lock_guard lock(state_->m);
    state_->lastUse = steady_clock::now();
    std::shared_ptr<CameraFeed>& open = state_->feed;
    if (!open || open->broken_ || !open->Matches(camera, caps)) {
        std::shared_ptr<CameraFeed> feed(
            new CameraFeed(camera, GstCapsPtr(gst_caps_copy(caps)), [weak = std::weak_ptr(state_)] {
                if (const auto state = weak.lock()) state->Touch();
            }));
        if (!feed->Start(controls, error)) feed.reset();
        old = std::exchange(open, feed);
    }
    state_->changed.notify_all();
    return open;
}

CameraFeed::CameraFeed(Camera camera, GstCapsPtr caps, std::function<void()> released)
    : camera_(std::move(camera)), caps_(std::move(caps)), released_(std::move(released)) {}

CameraFeed::~CameraFeed() {
    if (!pipeline_) return;
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    const GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    qCInfo(lcCapture).noquote() << "Camera" << camera_.name << "closed";
}

bool CameraFeed::Matches(const Camera& camera, const GstCaps* caps) const {
    return camera_ == camera && gst_caps_is_equal(caps_.get(), caps);
}

bool CameraFeed::Start(const QMap<QString, int>& controls, QString* error) {
    pipeline_ = SinkElement(gst_pipeline_new("feed"));
    GstElementPtr src = MakeCameraSource(camera_);
    GstElement* filter = Make("capsfilter");
    GstElement* sink = Make("appsink");
    if (!pipeline_ || !src || !filter || !sink) {
        if (filter) gst_object_unref(gst_object_ref_sink(filter));
        if (sink) gst_object_unref(gst_object_ref_sink(sink));
        *error = QStringLiteral("the camera source cannot be made");
        return false;
    }
    // Each frame is copied out and PipeWire's buffer handed back at once: a
    // provider left without buffers stops sending.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(src.get()), "always-copy"))
        g_object_set(src.get(), "always-copy", TRUE, nullptr);
    g_object_set(filter, "caps", caps_.get(), nullptr);
    // Only the newest frame waits for a clip; none is held between clips.
    g_object_set(sink, "sync", FALSE, "max-buffers", 1, "drop", TRUE, "emit-signals", TRUE,
                 "enable-last-sample", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline_.get()), src.get(), filter, sink, nullptr);
    if (!gst_element_link_many(src.get(), filter, sink, nullptr)) {
        *error = QStringLiteral("the pipeline cannot be linked");
        return false;
    }
    g_signal_connect(sink, "new-sample", G_CALLBACK(&CameraFeed::OnSample), this);
    const GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), &CameraFeed::OnBusMessage, this, nullptr);
    if (gst_element_set_state(pipeline_.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE)
        ApplyPictureControls(src.get(), controls);
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE ||
        broken_) {
        *error = QStringLiteral("the camera did not start");
        return false;
    }
    qCInfo(lcCapture).noquote() << "Camera" << camera_.name << "opened for the clips to come";
    return true;
}

GstElementPtr CameraFeed::MakeSource() const {
    GstElementPtr src = SinkElement(Make("appsrc"));
    if (!src) return {};
    // Stamped on arrival with the clip's own running time; a clip that falls
    // behind loses its oldest frames rather than the newest.
    g_object_set(src.get(), "caps", caps_.get(), "is-live", TRUE, "do-timestamp", TRUE, "format",
                 GST_FORMAT_TIME, "block", FALSE, "max-bytes", guint64(0), "max-buffers",
                 guint64(3), nullptr);
    gst_util_set_object_arg(G_OBJECT(src.get()), "leaky-type", "downstream");
    return src;
}

void CameraFeed::Attach(GstElement* source) {
    std::lock_guard lock(m_);
    target_ = RefObject(source);
}

void CameraFeed::Detach(GstElement* source) {
    {
        std::lock_guard lock(m_);
        if (target_.get() == source) target_.reset();
    }
    released_();
}

GstFlowReturn CameraFeed::OnSample(GstElement* sink, gpointer self) {
    auto* feed = static_cast<CameraFeed*>(self);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(sink, "pull-sample", &sample);
    if (!sample) return GST_FLOW_OK;
    // The camera's own time means nothing to the clip: its source stamps it.
    const GstBufferPtr frame(gst_buffer_copy(gst_sample_get_buffer(sample)));
    gst_sample_unref(sample);
    if (!frame) return GST_FLOW_OK;
    GST_BUFFER_PTS(frame.get()) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(frame.get()) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(frame.get()) = GST_CLOCK_TIME_NONE;
    std::lock_guard lock(feed->m_);
    if (feed->target_) {
        GstFlowReturn pushed = GST_FLOW_OK;
        g_signal_emit_by_name(feed->target_.get(), "push-buffer", frame.get(), &pushed);
    }
    return GST_FLOW_OK;
}

GstBusSyncReply CameraFeed::OnBusMessage(GstBus*, GstMessage* msg, gpointer self) {
    const GstMessagePtr owned(msg);
    auto* feed = static_cast<CameraFeed*>(self);
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError* raw = nullptr;
        gst_message_parse_error(msg, &raw, nullptr);
        const GErrorPtr err(raw);
        qCWarning(lcCapture).noquote() << "Camera" << feed->camera_.name
                                       << "failed:" << (err ? err->message : "unknown error");
        feed->broken_ = true;
    } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
        feed->broken_ = true;
    }
    // A clip that stops getting frames reports it; the next clip opens the
    // camera anew.
    return GST_BUS_DROP;
}

}  // namespace camwarden::capgst
