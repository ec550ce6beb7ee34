#pragma once

#include "capture/CaptureWindow.h"

#include <QString>
#include <memory>

class QWidget;

namespace camwarden {

class Form1;

// Owns the program's one capture window and the clip requests sent to it.
class modCam {
public:
    modCam(CaptureSystem& system, QWidget* owner) : system_(system), owner_(owner) {}

    CaptureWindow* hCapWnd() const { return hCapWnd_.get(); }
    bool Connected() const { return hCapWnd_ && connected_; }

    bool ConnectWebCam();
    void CloseWebCam();
    // Releases the camera as CloseWebCam does, until a clip is asked for:
    // that clip connects again.
    void ReleaseUntilNeeded();
    void StartWebCam(Form1& form);
    bool ShowVideoSourceDialog();
    bool ShowVideoFormatDialog();

    // 0 when the capture is running (or already was), 1 when it could not start.
    int16_t StartCapture(Form1& form);
    // The folder's size limit was turned on or the program started with it:
    // the folder can be read before its next clip.
    void FolderLimitChanged(Form1& form);
    // The age limit, or the folder it keeps, was changed or restored at
    // start: it holds whether or not the webcam is connected.
    void AgeLimitChanged(Form1& form);
    void RecordClip(Form1& form);
    // A clip could not start, or ended by a failure: the user hears of it
    // the way a refused start is reported. `latest`: no clip was asked for
    // since, so the countdown running is that clip's.
    void ClipFailed(Form1& form, const QString& file, const QString& why, bool latest);

private:
    CaptureSystem& system_;
    QWidget* owner_;
    std::unique_ptr<CaptureWindow> hCapWnd_;
    bool connected_ = false;
    bool released_ = false;  // by ReleaseUntilNeeded, and not connected since
};

QString NoWebcamMessage();

}  // namespace camwarden
