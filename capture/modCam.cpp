#include "capture/modCam.h"

#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/Helpers.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>

Q_LOGGING_CATEGORY(lcCam, "camwarden.capture")

namespace camwarden {
namespace {

// The folder text as a clip's name goes after it: with a trailing separator.
QString ClipsFolder(QString text) {
    if (!text.endsWith(PathSeparator())) text += PathSeparator();
    return text;
}

}  // namespace

QString NoWebcamMessage() {
    return QStringLiteral(
               "Error #488: It appears you do not have a webcam installed, please connect.") +
           QStringLiteral("\r\n\r\n") +
           QStringLiteral("Please email a screenshot of this error message to ") +
           QLatin1String(kSupportEmail) + QStringLiteral(" if you have questions.");
}

bool modCam::ConnectWebCam() {
    released_ = false;
    if (hCapWnd_) {
        if (connected_) return hCapWnd_->SetPreview(false);
        // A window whose driver never answered stays useless; start afresh so
        // a webcam plugged in since is found.
        hCapWnd_->Close();
        hCapWnd_.reset();
    }
    hCapWnd_ = system_.CreateCaptureWindow(QStringLiteral("SaveCam"), owner_);
    if (!hCapWnd_) return false;
    connected_ = hCapWnd_->DriverConnect(0);
    qCInfo(lcCam) << "capture driver" << (connected_ ? "connected" : "not connected");
    return connected_;
}

void modCam::CloseWebCam() {
    if (hCapWnd_) {
        hCapWnd_->Close();
        hCapWnd_->DriverDisconnect();
    }
    // Released for good: the next connect makes and connects a new window.
    hCapWnd_.reset();
    connected_ = false;
    released_ = false;
}

void modCam::ReleaseUntilNeeded() {
    CloseWebCam();
    released_ = true;
}

void modCam::StartWebCam(Form1& form) {
    ErrorTrap trap(form.dialogs(), QStringLiteral("modCam.StartWebCam"));
    if (!trap.If(100, [&] { return !ConnectWebCam(); })) return;
    trap(102, [&] { form.dialogs().MsgBox(NoWebcamMessage()); });
    trap(104, [&] { CloseWebCam(); });
    trap(106, [&] { form.PushButton4->setText(QLatin1String(kTurnOn)); });
    trap(108, [&] { form.Timer1->SetInterval(0); });
    trap(110, [&] { form.Frame4->setTitle(QLatin1String(kStatusOff)); });
}

bool modCam::ShowVideoSourceDialog() {
    return hCapWnd_ && hCapWnd_->DlgVideoSource();
}

bool modCam::ShowVideoFormatDialog() {
    return hCapWnd_ && hCapWnd_->DlgVideoFormat();
}

int16_t modCam::StartCapture(Form1& form) {
    try {
        const QString stamp =
            form.platform().clock->Now().toString(QStringLiteral("yyyy-MM-dd hh-mm-ss"));
        // No folder at all would put clips wherever the program was started.
        if (form.Text1->text().isEmpty()) return 1;
        const QString folder = ClipsFolder(form.Text1->text());
        const QString path = CleanPath(folder + QStringLiteral("SS ") + stamp + ".avi");

        qCInfo(lcCam) << "clip due:" << path;
        CaptureWindow* window = hCapWnd_.get();
        if (window == nullptr) return 1;
        if (!window->SetCaptureFile(path)) return 1;
        CaptureParms parms;
        window->GetSequenceSetup(parms);
        parms.fCaptureAudio = 0;
        parms.fYield = 1;
        window->SetSequenceSetup(&parms);
        window->SetSequenceSetup(nullptr);
        window->SetClipLength(form.state().ClipSeconds);
        window->SetFolderLimit(CleanPath(folder), form.FolderLimitBytes());
        window->SetTimeStamp(form.Check13->isChecked());
        if (!window->Sequence()) {
            qCWarning(lcCam) << "capture refused:" << path;
            return 1;
        }
        // The file is made on the clip's thread, which names it: a taken
        // name gets " (2)" there.
        qCInfo(lcCam) << "clip requested";
        return 0;
    } catch (...) {
        return 1;
    }
}

void modCam::FolderLimitChanged(Form1& form) {
    if (hCapWnd_ && !form.Text1->text().isEmpty() && form.FolderLimitBytes() > 0)
        hCapWnd_->SetFolderLimit(CleanPath(ClipsFolder(form.Text1->text())),
                                 form.FolderLimitBytes());
}

void modCam::AgeLimitChanged(Form1& form) {
    const QString text = form.Text1->text();
    system_.SetAgeLimit(text.isEmpty() ? QString() : CleanPath(ClipsFolder(text)),
                        text.isEmpty() ? 0 : form.AgeLimitDays());
}

void modCam::ClipFailed(Form1& form, const QString& file, const QString& why, bool latest) {
    qCWarning(lcCam).noquote() << "clip failed:" << file << "-" << why;
    // Nothing is being recorded any more: the window goes back to counting
    // down to the next clip, as after a start that was refused at once.
    if (latest && form.Timer2->Enabled()) {
        form.Timer2->SetEnabled(false);
        form.Timer1->SetEnabled(true);
    }
    form.dialogs().MsgBox(QStringLiteral("Error capturing video."));
}

void modCam::RecordClip(Form1& form) {
    form.state().ClipSecondsLeft = form.state().ClipSeconds;
    // Ticks can be missed (the program stopped, the machine asleep); the
    // clip's end cannot.
    form.state().ClipDueMs =
        form.platform().clock->SinceBootMs() + int64_t(form.state().ClipSeconds) * 1000;
    // Let go between active hours: a clip asked for then (the test button, a
    // clock set into a span, the hours switched off) takes it again.
    if (released_) ConnectWebCam();
    if (StartCapture(form) != 0) {
        form.dialogs().MsgBox(QStringLiteral("Error capturing video."));
    } else {
        form.Timer2->SetEnabled(true);
    }
}

}  // namespace camwarden
