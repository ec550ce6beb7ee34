#include "platform/gst/GstCaptureSystem.h"

#include <gst/gst.h>

#include <mutex>

#include "platform/gst/CaptureCore.h"
#include "platform/gst/CaptureLog.h"
#include "platform/gst/GstCaptureWindow.h"
#include "platform/gst/GstPtr.h"
#include "storage/ClipJournal.h"
#include "storage/RecordedClips.h"

namespace camwarden {

using namespace capgst;
using store::ClipJournal;
using store::RecordedClips;

bool InitGStreamer(QString* error) {
    static std::once_flag once;
    static bool ok = false;
    static QString why;
    std::call_once(once, [] {
        GError* raw = nullptr;
        ok = gst_init_check(nullptr, nullptr, &raw);
        const GErrorPtr err(raw);
        if (!ok) why = QString::fromUtf8(err ? err->message : "gst_init_check failed");
        if (ok && !RegisterTestCameraProvider())
            qCWarning(lcCapture) << "The test cameras cannot be offered";
    });
    if (!ok && error) *error = why;
    return ok;
}

namespace {

std::shared_ptr<CaptureCore> MakeCore(const QString& camera, const QString& settingsFile) {
    // The core watches the cameras from the start.
    InitGStreamer();
    if (settingsFile.isEmpty())
        return std::make_shared<CaptureCore>(camera, SettingsLocation(), ClipJournal::DefaultPath(),
                                             RecordedClips::DefaultPath());
    return std::make_shared<CaptureCore>(camera, SettingsLocation(settingsFile),
                                         ClipJournal::BesidePath(settingsFile),
                                         RecordedClips::BesidePath(settingsFile));
}

}  // namespace

GstCaptureSystem::GstCaptureSystem(const QString& camera, const QString& settingsFile)
    : runCamera_(camera), core_(MakeCore(camera, settingsFile)) {
    core_->SetClipFailedHandler([this](uint64_t clip, const QString& file, const QString& why) {
        OnClipFailed(clip, file, why);
    });
}

GstCaptureSystem::~GstCaptureSystem() {
    core_->Shutdown(kQuitBound);
}

bool GstCaptureSystem::Shutdown() {
    return core_->Shutdown(kQuitBound);
}

std::unique_ptr<CaptureWindow> GstCaptureSystem::CreateCaptureWindow(const QString& name,
                                                                     QWidget* owner) {
    if (!InitGStreamer()) return nullptr;
    return std::make_unique<GstCaptureWindow>(core_, name, owner);
}

void GstCaptureSystem::SetAgeLimit(const QString& folder, int days) {
    core_->SetAgeLimit(folder, days);
}

void GstCaptureSystem::SetTestCameraPlugged(bool plugged) {
    SetTestCameraPlugged(runCamera_, plugged);
}

void GstCaptureSystem::SetTestCameraPlugged(const QString& which, bool plugged) {
    if (const auto kind = TestCameraFromName(which)) core_->SetTestCameraPlugged(*kind, plugged);
}

std::vector<capgst::Camera> GstCaptureSystem::Cameras() const {
    return core_->Cameras();
}

void GstCaptureSystem::SetClipFinishedHandler(std::function<void(const ClipReport&)> handler) {
    core_->SetClipFinishedHandler(std::move(handler));
}

void GstCaptureSystem::SetClipFailedHandler(ClipFailedHandler handler) {
    onFailed_ = std::move(handler);
}

void GstCaptureSystem::OnClipFailed(uint64_t clip, const QString& file, const QString& why) {
    QMetaObject::invokeMethod(
        home_.get(),
        [this, clip, file, why] {
            if (onFailed_) onFailed_(file, why, clip == core_->LatestClip());
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
