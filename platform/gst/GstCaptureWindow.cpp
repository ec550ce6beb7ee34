#include "platform/gst/GstCaptureWindow.h"

#include <QCoreApplication>
#include <algorithm>
#include <thread>

#include "platform/gst/CaptureCore.h"
#include "platform/gst/CaptureDialogs.h"
#include "platform/gst/CaptureLog.h"
#include "platform/gst/Clip.h"

namespace camwarden {

using namespace capgst;

namespace {

void TakeRateFrom(const DriverSettings& s, CaptureParms& parms) {
    if (s.frameRateNum > 0)
        parms.dwRequestMicroSecPerFrame =
            MicroSecondsFromFrameRate({s.frameRateNum, s.frameRateDen});
}

}  // namespace

GstCaptureWindow::GstCaptureWindow(std::shared_ptr<CaptureCore> core, QString name, QWidget* owner)
    : core_(std::move(core)), name_(std::move(name)), owner_(owner) {
    TakeRateFrom(core_->Settings().Load(), parms_);
}

GstCaptureWindow::~GstCaptureWindow() {
    EndClip();
}

bool GstCaptureWindow::Refresh() {
    const auto now = core_->ChosenCamera();
    if (!now) {
        if (camera_) qCWarning(lcCapture).noquote() << "Camera" << camera_->name << "is gone";
        camera_.reset();
        offered_.reset();
        return false;
    }
    // A camera that went and came back is the same camera but a new device
    // to open, whose formats may have changed.
    if (camera_ && *camera_ == *now && camera_->device == now->device && offered_) return true;
    GstCapsPtr offered = CameraCaps(*now);
    if (!offered) {
        qCWarning(lcCapture).noquote() << "Camera" << now->name << "offers no video format";
        camera_.reset();
        offered_.reset();
        return false;
    }
    if (connected_ && !(camera_ && *camera_ == *now))
        qCInfo(lcCapture).noquote() << "Recording from" << now->name << "from now on";
    camera_ = now;
    offered_ = std::move(offered);
    return true;
}

bool GstCaptureWindow::DriverConnect(int driverIndex) {
    // There is one driver: the camera chosen for the run.
    if (driverIndex != 0) return false;
    connected_ = Refresh();
    if (connected_)
        qCInfo(lcCapture).noquote()
            << "Connected to camera" << camera_->name << "through" << camera_->provider;
    else
        qCWarning(lcCapture) << "No video capture device found";
    return connected_;
}

bool GstCaptureWindow::DriverDisconnect() {
    EndClip();
    core_->ReleaseCameras();
    const bool was = connected_;
    connected_ = false;
    camera_.reset();
    offered_.reset();
    return was;
}

bool GstCaptureWindow::SetPreview(bool) {
    // No preview is ever shown; the answer is whether a camera is there.
    return connected_ && Refresh();
}

bool GstCaptureWindow::SetCaptureFile(const QString& path) {
    if (path.isEmpty()) return false;
    file_ = path;
    return true;
}

bool GstCaptureWindow::GetSequenceSetup(CaptureParms& parms) {
    parms = parms_;
    return true;
}

bool GstCaptureWindow::SetSequenceSetup(const CaptureParms* parms) {
    if (parms) parms_ = *parms;
    return true;
}

void GstCaptureWindow::SetClipLength(int32_t seconds) {
    clipLength_ = seconds > 0 ? uint32_t(seconds) : 0;
}

void GstCaptureWindow::SetFolderLimit(const QString& folder, int64_t bytes) {
    folderLimit_ = std::max<int64_t>(bytes, 0);
    // Each folder once; after that its clips keep the listing up to date.
    // As written: the system resolves it, as it does a clip's path.
    if (folderLimit_ > 0 && !folder.isEmpty() && folder != listedAhead_) {
        listedAhead_ = folder;
        core_->ListFolderAhead(folder);
    }
}

void GstCaptureWindow::SetTimeStamp(bool on) {
    timeStamp_ = on;
}

bool GstCaptureWindow::Sequence() {
    if (clip_ && clip_->IsRecording()) {
        // Every clip asked for gets its own file: one left running past its
        // due time would grow without end.
        qCInfo(lcCapture).noquote() << "Ending" << clip_->File() << "so that the next clip starts";
    }
    EndClip();
    if (!connected_) {
        qCWarning(lcCapture) << "Cannot capture: no camera connected";
        return false;
    }
    if (file_.isEmpty()) {
        qCWarning(lcCapture) << "Cannot capture: no capture file set";
        return false;
    }
    if (!Refresh()) {
        qCWarning(lcCapture) << "Cannot capture: no camera is there";
        return false;
    }

    ClipPlan plan;
    plan.camera = *camera_;
    plan.settings = core_->Settings().Load();
    const auto format = ChooseFormat(offered_.get(), plan.settings,
                                     FrameRateFromMicroSeconds(parms_.dwRequestMicroSecPerFrame));
    if (!format) {
        qCWarning(lcCapture).noquote()
            << "Cannot capture: camera" << camera_->name << "offers no usable format";
        return false;
    }
    plan.format = ChosenFormat{format->mjpeg,      RefCaps(format->sourceCaps.get()),
                               format->width,      format->height,
                               format->sourceRate, format->outputRate};
    plan.file = file_;
    // Abort keys and mouse clicks are ignored on purpose: a stray click
    // must never cut an unattended clip. Audio is never recorded.
    plan.timeLimitSeconds = parms_.fLimitEnabled ? parms_.wTimeLimit : 0;
    plan.meantSeconds = clipLength_;
    plan.folderLimitBytes = folderLimit_;
    plan.timeStamp = timeStamp_;
    // Opening the camera and the file happens on the clip's own thread.
    clip_ = core_->StartClip(std::move(plan));
    if (!clip_) {
        qCWarning(lcCapture).noquote() << "Cannot capture into" << file_ << ": shutting down";
        return false;
    }
    return true;
}

void GstCaptureWindow::EndClip() {
    if (clip_) clip_->RequestFinish();
    clip_.reset();
}

bool GstCaptureWindow::Stop() {
    const bool running = clip_ && clip_->IsRecording();
    EndClip();
    return running || camera_.has_value();
}

bool GstCaptureWindow::DlgVideoSource() {
    if (!connected_ || !Refresh()) return false;
    const DriverSettings before = core_->Settings().Load();
    // Nothing named for the run and nothing saved: the first camera is in use.
    const bool firstInUse = core_->RunCamera().isEmpty() && before.device.isEmpty() &&
                            before.deviceName.isEmpty() && before.deviceId.isEmpty();
    VideoSourceDialog dialog(*camera_, firstInUse, core_->Cameras(), std::nullopt, before, owner_);
    // Reading the controls opens the camera, which may take its time or
    // hang: the dialog is filled in when the answer comes.
    std::thread([camera = *camera_, shown = QPointer<VideoSourceDialog>(&dialog)] {
        std::vector<PictureControl> controls = QueryPictureControls(camera);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shown, controls = std::move(controls)] {
                if (shown) shown->SetControls(controls);
            },
            Qt::QueuedConnection);
    }).detach();
    if (dialog.exec() != QDialog::Accepted) return true;
    DriverSettings s = dialog.Apply(core_->Settings().Load());
    const std::optional<Camera> chosen = dialog.ChosenCamera();
    // The camera named for this run (--camera) stays this run's until the
    // user picks another. A test camera picked is this run's too; any other
    // is remembered.
    if (core_->RunCamera().isEmpty() || dialog.CameraChanged()) {
        if (chosen && chosen->IsTest()) {
            core_->SetRunCamera(chosen->path);
        } else {
            core_->SetRunCamera({});
            RememberCamera(chosen.value_or(Camera{}), s);
        }
    }
    core_->Settings().Save(s);
    // A running clip keeps its camera; the next one uses the new choice.
    if (!Refresh()) qCWarning(lcCapture) << "The chosen camera cannot be used";
    return true;
}

bool GstCaptureWindow::DlgVideoFormat() {
    if (!connected_ || !Refresh()) return false;
    const Fraction next = FrameRateFromMicroSeconds(parms_.dwRequestMicroSecPerFrame);
    VideoFormatDialog dialog(offered_.get(), core_->Settings().Load(), next, owner_);
    if (dialog.exec() != QDialog::Accepted) return true;
    const DriverSettings s = dialog.Apply(core_->Settings().Load());
    core_->Settings().Save(s);
    TakeRateFrom(s, parms_);
    return true;
}

bool GstCaptureWindow::DlgVideoCompression() {
    if (!connected_ || !Refresh()) return false;
    VideoParametersDialog dialog(offered_.get(), core_->Settings().Load(), owner_);
    if (dialog.exec() != QDialog::Accepted) return true;
    core_->Settings().Save(dialog.Apply(core_->Settings().Load()));
    return true;
}

void GstCaptureWindow::Close() {
    EndClip();
    core_->ReleaseCameras();
    connected_ = false;
    camera_.reset();
    offered_.reset();
}

}  // namespace camwarden
