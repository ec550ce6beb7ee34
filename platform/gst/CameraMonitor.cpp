#include "platform/gst/CameraMonitor.h"

#include <algorithm>
#include <utility>

#include "platform/gst/CaptureLog.h"
#include "platform/gst/PipeWireWatch.h"

namespace camwarden::capgst {
namespace {

constexpr char kPipeWireProvider[] = "pipewiredeviceprovider";
constexpr char kCameraClass[] = "Video/Source";

QString Describe(const Camera& c) {
    QString out = c.name;
    if (!c.path.isEmpty()) out += QStringLiteral(" (%1)").arg(c.path);
    return out + QStringLiteral(" through ") + c.provider;
}

// Older GStreamer hands a new monitor over floating; newer sinks it first.
GstDeviceMonitor* Owned(GstDeviceMonitor* m) {
    if (m && g_object_is_floating(m)) gst_object_ref_sink(m);
    return m;
}

// PipeWire's device provider before 0.3.73 destroys its registry proxy on
// stop without its thread loop's lock, while that thread frees the same
// proxy on the server's reply: the heap is corrupted and the process aborts
// as it ends. Such a provider is never stopped while its connection is up;
// the connection ends with the process.
bool StopIsFaulty(GstDeviceProvider* provider) {
    GstDeviceProviderFactory* factory = gst_device_provider_get_factory(provider);
    return factory && !gst_plugin_feature_check_version(GST_PLUGIN_FEATURE(factory), 0, 3, 73);
}

std::vector<Camera> CamerasOf(GstDeviceProvider* provider) {
    std::vector<Camera> all;
    GList* devices = gst_device_provider_get_devices(provider);
    for (GList* d = devices; d; d = d->next) {
        if (gst_device_has_classes(GST_DEVICE(d->data), kCameraClass))
            all.push_back(CameraFromDevice(GST_DEVICE(d->data)));
    }
    g_list_free_full(devices, gst_object_unref);
    return all;
}

using SharedGoneHandler = std::shared_ptr<const CameraMonitor::GoneHandler>;

}  // namespace

CameraMonitor::CameraMonitor(GoneHandler onGone, std::function<void()> releasePipeWire)
    // Without GStreamer there is no camera to watch.
    : monitor_(gst_is_initialized() ? Owned(gst_device_monitor_new()) : nullptr),
      onGone_(std::make_shared<const GoneHandler>(std::move(onGone))),
      releasePipeWire_(std::move(releasePipeWire)) {
    if (!monitor_) return;
    gst_device_monitor_add_filter(monitor_.get(), kCameraClass, nullptr);
    bus_.reset(gst_device_monitor_get_bus(monitor_.get()));
    // Providers post from threads of their own. The bus keeps the handler
    // until the last call that is under way has returned.
    gst_bus_set_sync_handler(bus_.get(), &CameraMonitor::OnMessage,
                             std::make_unique<SharedGoneHandler>(onGone_).release(),
                             [](gpointer h) { delete static_cast<SharedGoneHandler*>(h); });
    started_ = gst_device_monitor_start(monitor_.get());
    if (!started_) qCWarning(lcCapture) << "No camera provider could be started";
    if (started_) WatchPipeWire();
}

CameraMonitor::~CameraMonitor() {
    Stop();
}

void CameraMonitor::WatchPipeWire() {
    pipeWire_.reset(gst_device_provider_factory_get_by_name(kPipeWireProvider));
    if (!pipeWire_ || !gst_device_provider_is_started(pipeWire_.get())) {
        pipeWire_.reset();
        return;
    }
    pipeWireStopIsFaulty_ = StopIsFaulty(pipeWire_.get());
    // Started once more than the monitor starts it, the monitor never stops it.
    pipeWireStarts_ = 1;
    if (pipeWireStopIsFaulty_ && gst_device_provider_start(pipeWire_.get())) ++pipeWireStarts_;
    watch_ = PipeWireWatch::Start([this](bool connected) {
        {
            std::lock_guard lock(m_);
            news_.push_back(connected);
        }
        changed_.notify_all();
    });
    if (!watch_) return;
    restarter_ = std::thread([this] {
        std::unique_lock lock(m_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || !news_.empty(); });
            if (stopping_) return;
            const bool connected = news_.front();
            news_.pop_front();
            lock.unlock();
            PipeWireChanged(connected);
            lock.lock();
        }
    });
}

void CameraMonitor::PipeWireChanged(bool connected) {
    if (!connected) {
        {
            std::lock_guard lock(m_);
            if (pipeWireAway_) return;
            pipeWireAway_ = true;
        }
        qCWarning(lcCapture) << "PipeWire went away; its cameras are gone until it is back";
        // The provider does not notice: its list still names what is gone.
        for (const Camera& camera : CamerasOf(pipeWire_.get())) {
            qCInfo(lcCapture).noquote() << "Camera gone:" << Describe(camera);
            if (*onGone_) (*onGone_)(camera);
        }
        if (releasePipeWire_) releasePipeWire_();
        return;
    }
    {
        std::lock_guard lock(m_);
        if (!pipeWireAway_) return;
    }
    qCInfo(lcCapture) << "PipeWire is back; looking for its cameras again";
    // Its old connection is dead, so even a faulty stop has no reply to race.
    for (; pipeWireStarts_ > 0; --pipeWireStarts_) gst_device_provider_stop(pipeWire_.get());
    // A connection of its own: PipeWire's GStreamer plugin hands its users one
    // shared connection, and while anything still holds the dead one the
    // provider would wait on it for ever.
    const int previousFd = std::exchange(pipeWireFd_, PipeWireWatch::NewConnection());
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(pipeWire_.get()), "fd"))
        g_object_set(pipeWire_.get(), "fd", pipeWireFd_, nullptr);
    PipeWireWatch::CloseConnection(previousFd);
    while (pipeWireStarts_ < (pipeWireStopIsFaulty_ ? 2 : 1) &&
           gst_device_provider_start(pipeWire_.get()))
        ++pipeWireStarts_;
    if (pipeWireStarts_ == 0) qCWarning(lcCapture) << "PipeWire's cameras cannot be watched again";
    std::lock_guard lock(m_);
    pipeWireAway_ = false;
}

void CameraMonitor::Stop() {
    {
        std::lock_guard lock(m_);
        stopping_ = true;
    }
    changed_.notify_all();
    watch_.reset();
    if (restarter_.joinable()) restarter_.join();
    if (started_) gst_device_monitor_stop(monitor_.get());
    started_ = false;
    if (bus_) gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
    // A provider still running may still use it.
    if (!pipeWire_ || !gst_device_provider_is_started(pipeWire_.get()))
        PipeWireWatch::CloseConnection(std::exchange(pipeWireFd_, -1));
}

std::vector<Camera> CameraMonitor::Cameras() const {
    std::vector<Camera> all;
    if (!monitor_) return all;
    GList* devices = gst_device_monitor_get_devices(monitor_.get());
    for (GList* d = devices; d; d = d->next) all.push_back(CameraFromDevice(GST_DEVICE(d->data)));
    g_list_free_full(devices, gst_object_unref);
    {
        std::lock_guard lock(m_);
        if (pipeWireAway_)
            std::erase_if(all, [](const Camera& c) { return c.provider == kPipeWireProvider; });
    }
    return DistinctCameras(std::move(all));
}

GstBusSyncReply CameraMonitor::OnMessage(GstBus*, GstMessage* msg, gpointer gone) {
    // Dropped here, so ours to release.
    const GstMessagePtr owned(msg);
    GstDevice* raw = nullptr;
    const bool added = GST_MESSAGE_TYPE(msg) == GST_MESSAGE_DEVICE_ADDED;
    if (added)
        gst_message_parse_device_added(msg, &raw);
    else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_DEVICE_REMOVED)
        gst_message_parse_device_removed(msg, &raw);
    else
        return GST_BUS_DROP;
    const GstObjectPtr<GstDevice> device(raw);
    const Camera camera = CameraFromDevice(device.get());
    qCInfo(lcCapture).noquote() << (added ? "Camera appeared:" : "Camera gone:")
                                << Describe(camera);
    const auto& onGone = **static_cast<SharedGoneHandler*>(gone);
    if (!added && onGone) onGone(camera);
    return GST_BUS_DROP;
}

}  // namespace camwarden::capgst
