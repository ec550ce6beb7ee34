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
    explicit State(std::chrono::milliseconds idleFor) : idle(idleFor) {}
    const std::chrono::milliseconds idle;
    std::mutex m;
    std::condition_variable changed;
    std::shared_ptr<CameraFeed> feed;
    steady_clock::time_point lastUse;  // the last clip that ended well, or the opening
    bool stop = false;
    bool closeNow = false;  // quitting: no grace for the next clip
    bool release = false;   // turned off: closed once free, until a clip opens one again

    void Changed(bool used) {
        {
            std::lock_guard lock(m);
            if (used) lastUse = steady_clock::now();
        }
        changed.notify_all();
    }

    void CloseWhenIdle() {
        std::unique_lock lock(m);
        while (!stop) {
            if (!feed) {
                changed.wait(lock);
                continue;
            }
            // Only this holds it: no clip is recording from it.
            const bool free = feed.use_count() == 1;
            const auto due = closeNow || release ? steady_clock::now() : lastUse + idle;
            if (feed->broken_ || (free && steady_clock::now() >= due)) {
                std::shared_ptr<CameraFeed> done;
                done.swap(feed);
                lock.unlock();
                done->Shut();  // may wait on the camera: not under the lock
                done.reset();
                lock.lock();
                changed.notify_all();
                continue;
            }
            if (free) {
                changed.wait_until(lock, due);
            } else {
                changed.wait(lock);
            }
        }
    }
};

CameraFeeds::CameraFeeds(std::chrono::milliseconds idle) : state_(std::make_shared<State>(idle)) {
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

void CameraFeeds::Release() {
    {
        std::lock_guard lock(state_->m);
        state_->release = true;
    }
    state_->changed.notify_all();
}

void CameraFeeds::Gone(const Camera& camera) {
    std::shared_ptr<CameraFeed> feed;
    {
        std::lock_guard lock(state_->m);
        feed = state_->feed;
    }
    if (feed && (feed->camera_.device == camera.device || feed->camera_ == camera))
        feed->Break(QStringLiteral("the camera is gone"));
}

void CameraFeeds::CloseAllNow(const QString& why) {
    std::shared_ptr<CameraFeed> feed;
    {
        std::lock_guard lock(state_->m);
        feed = std::move(state_->feed);
    }
    state_->changed.notify_all();
    if (!feed) return;
    feed->Break(why);
    feed->Shut();
}

std::shared_ptr<CameraFeed> CameraFeeds::Open(const Camera& camera, const GstCaps* caps,
                                              const QMap<QString, int>& controls, QString* error) {
    {
        std::lock_guard lock(state_->m);
        state_->release = false;
        const std::shared_ptr<CameraFeed>& open = state_->feed;
        if (open && !open->broken_ && open->Matches(camera, caps)) return open;
    }
    // Opening may take its time, and the camera may report a failure meanwhile.
    std::shared_ptr<CameraFeed> feed(new CameraFeed(camera, GstCapsPtr(gst_caps_copy(caps)),
                                                    [weak = std::weak_ptr(state_)](bool used) {
                                                        if (const auto state = weak.lock())
                                                            state->Changed(used);
                                                    }));
    if (!feed->Start(controls, error)) feed.reset();
    std::shared_ptr<CameraFeed> old;  // closed once its last clip lets go, outside the lock
    {
        std::lock_guard lock(state_->m);
        state_->lastUse = steady_clock::now();
        old = std::exchange(state_->feed, feed);
    }
    state_->changed.notify_all();
    return feed;
}

CameraFeed::CameraFeed(Camera camera, GstCapsPtr caps, std::function<void(bool used)> changed)
    : camera_(std::move(camera)),
      caps_(std::move(caps)),
      lastFrame_(Clock::now().time_since_epoch().count()),
      changed_(std::move(changed)) {}

CameraFeed::~CameraFeed() {
    Shut();
}

void CameraFeed::Shut() {
    std::lock_guard lock(shutM_);
    if (shut_ || !pipeline_) return;
    shut_ = true;
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    const GstBusPtr bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    qCInfo(lcCapture).noquote() << "Camera" << camera_.name << "closed";
}

bool CameraFeed::Matches(const Camera& camera, const GstCaps* caps) const {
    // The same camera found again after it went is a new device to connect to.
    return camera_ == camera && camera_.device == camera.device &&
           gst_caps_is_equal(caps_.get(), caps);
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

void CameraFeed::Attach(GstElement* source, LostHandler lost) {
    std::lock_guard lock(m_);
    target_ = RefObject(source);
    lost_ = std::move(lost);
}

void CameraFeed::LetGo(std::shared_ptr<CameraFeed> feed, GstElement* source, bool endedWell) {
    if (!feed) return;
    std::function<void(bool)> changed;
    {
        std::lock_guard lock(feed->m_);
        if (feed->target_.get() == source) {
            feed->target_.reset();
            feed->lost_ = nullptr;
        }
        changed = feed->changed_;
    }
    // Let go before the keeper looks whether anyone still holds it.
    feed.reset();
    if (changed) changed(endedWell);
}

bool CameraFeed::SilentFor(std::chrono::milliseconds bound) const {
    return Clock::now() - Clock::time_point(Clock::duration(lastFrame_.load())) >= bound;
}

void CameraFeed::Break(const QString& why) {
    if (broken_.exchange(true)) return;
    qCInfo(lcCapture).noquote() << "Camera" << camera_.name << "connection dropped:" << why;
    {
        // Under the lock: the clip lets go of the feed under it before it goes.
        std::lock_guard lock(m_);
        if (lost_) lost_(why);
    }
    if (changed_) changed_(false);
}

GstFlowReturn CameraFeed::OnSample(GstElement* sink, gpointer self) {
    auto* feed = static_cast<CameraFeed*>(self);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(sink, "pull-sample", &sample);
    if (!sample) return GST_FLOW_OK;
    feed->lastFrame_ = Clock::now().time_since_epoch().count();
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
        feed->Break(QStringLiteral("the camera failed: %1")
                        .arg(QString::fromUtf8(err ? err->message : "unknown error")));
    } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
        feed->Break(QStringLiteral("the camera stopped sending"));
    }
    return GST_BUS_DROP;
}

}  // namespace camwarden::capgst
