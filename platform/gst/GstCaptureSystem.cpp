#include "platform/gst/GstCaptureSystem.h"

#include <gst/gst.h>

#include <mutex>

#include "platform/gst/CaptureCore.h"
#include "platform/gst/CaptureLog.h"
#include "platform/gst/GstCaptureWindow.h"
#include "platform/gst/GstPtr.h"

namespace camwarden {

using namespace capgst;

bool InitGStreamer(QString* error) {
    static std::once_flag once;
    static bool ok = false;
    static QString why;
    std::call_once(once, [] {
        GError* raw = nullptr;
        ok = gst_init_check(nullptr, nullptr, &raw);
        const GErrorPtr err(raw);
        if (!ok) why = QString::fromUtf8(err ? err->message : "gst_init_check failed");
    });
    if (!ok && error) *error = why;
    return ok;
}

GstCaptureSystem::GstCaptureSystem(const QString& camera, const QString& settingsFile)
    : core_(std::make_shared<CaptureCore>(
          camera, settingsFile.isEmpty() ? SettingsLocation() : SettingsLocation(settingsFile))) {
    InitGStreamer();
    core_->SetClipFinishedHandler([this](const ClipReport& r) { OnClipFinished(r); });
}

GstCaptureSystem::~GstCaptureSystem() {
    core_->Shutdown(kQuitBound);
}

std::unique_ptr<CaptureWindow> GstCaptureSystem::CreateCaptureWindow(const QString& name,
                                                                     QWidget* owner) {
    if (!InitGStreamer()) return nullptr;
    return std::make_unique<GstCaptureWindow>(core_, name, owner);
}

void GstCaptureSystem::SetTestCameraPlugged(bool plugged) {
    core_->TestState()->plugged = plugged;
}

void GstCaptureSystem::SetTestCameraFaults(bool stallEnd, bool sinkFails) {
    core_->TestState()->stallEnd = stallEnd;
    core_->TestState()->sinkFails = sinkFails;
}

void GstCaptureSystem::SetClipFinishedHandler(std::function<void(const ClipReport&)> handler) {
    std::lock_guard lock(m_);
    onFinished_ = std::move(handler);
}

void GstCaptureSystem::SetClipFailedHandler(ClipFailedHandler handler) {
    onFailed_ = std::move(handler);
}

void GstCaptureSystem::OnClipFinished(const ClipReport& report) {
    std::function<void(const ClipReport&)> finished;
    {
        std::lock_guard lock(m_);
        finished = onFinished_;
    }
    if (finished) finished(report);
    if (report.error.isEmpty()) return;
    QMetaObject::invokeMethod(
        home_.get(),
        [this, file = report.file, why = report.error] {
            if (onFailed_) onFailed_(file, why);
        },
        Qt::QueuedConnection);
}

bool GstCaptureSystem::WaitUntilIdle(std::chrono::milliseconds bound) {
    return core_->WaitUntilIdle(bound);
}

std::unique_ptr<CaptureSystem> MakeGstCaptureSystem(const QString& cameraArg) {
    QString why;
    if (!InitGStreamer(&why)) {
        qCCritical(lcCapture).noquote() << "GStreamer cannot be initialised:" << why;
        return nullptr;
    }
    return std::make_unique<GstCaptureSystem>(cameraArg);
}

}  // namespace camwarden
