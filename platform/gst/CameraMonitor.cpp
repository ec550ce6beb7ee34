#include "platform/gst/CameraMonitor.h"

#include "platform/gst/CaptureLog.h"

namespace camwarden::capgst {
namespace {

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

}  // namespace

CameraMonitor::CameraMonitor(GoneHandler onGone)
    // Without GStreamer there is no camera to watch.
    : monitor_(gst_is_initialized() ? Owned(gst_device_monitor_new()) : nullptr) {
    if (!monitor_) return;
    gst_device_monitor_add_filter(monitor_.get(), "Video/Source", nullptr);
    bus_.reset(gst_device_monitor_get_bus(monitor_.get()));
    // Providers post from threads of their own. The bus keeps the handler
    // until the last call that is under way has returned.
    gst_bus_set_sync_handler(bus_.get(), &CameraMonitor::OnMessage,
                             std::make_unique<GoneHandler>(std::move(onGone)).release(),
                             [](gpointer h) { delete static_cast<GoneHandler*>(h); });
    started_ = gst_device_monitor_start(monitor_.get());
    if (!started_) qCWarning(lcCapture) << "No camera provider could be started";
}

CameraMonitor::~CameraMonitor() {
    Stop();
}

void CameraMonitor::Stop() {
    if (started_) gst_device_monitor_stop(monitor_.get());
    started_ = false;
    if (bus_) gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
}

std::vector<Camera> CameraMonitor::Cameras() const {
    std::vector<Camera> all;
    if (!monitor_) return all;
    GList* devices = gst_device_monitor_get_devices(monitor_.get());
    for (GList* d = devices; d; d = d->next) all.push_back(CameraFromDevice(GST_DEVICE(d->data)));
    g_list_free_full(devices, gst_object_unref);
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
    if (const auto& onGone = *static_cast<GoneHandler*>(gone); !added && onGone) onGone(camera);
    return GST_BUS_DROP;
}

}  // namespace camwarden::capgst
