#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>

#include "capture/CaptureWindow.h"
#include "platform/gst/Camera.h"
#include "platform/gst/GstPtr.h"

namespace camwarden {

namespace capgst {
class CaptureCore;
class Clip;
}  // namespace capgst

// One capture window over GStreamer. Connecting finds the camera and what it
// offers without opening it; each clip opens it anew in a pipeline of its
// own, and each looks again which camera that is, so one plugged in while
// the schedule runs is recorded from the next clip on.
class GstCaptureWindow final : public CaptureWindow {
public:
    GstCaptureWindow(std::shared_ptr<capgst::CaptureCore> core, QString name, QWidget* owner);
    ~GstCaptureWindow() override;
    GstCaptureWindow(const GstCaptureWindow&) = delete;
    GstCaptureWindow& operator=(const GstCaptureWindow&) = delete;

    bool DriverConnect(int driverIndex) override;
    bool DriverDisconnect() override;
    bool SetPreview(bool on) override;
    bool SetCaptureFile(const QString& path) override;
    bool GetSequenceSetup(CaptureParms& parms) override;
    bool SetSequenceSetup(const CaptureParms* parms) override;
    void SetClipLength(int32_t seconds) override;
    void SetFolderLimit(const QString& folder, int64_t bytes) override;
    void SetTimeStamp(bool on) override;
    bool Sequence() override;
    bool Stop() override;
    bool DlgVideoSource() override;
    bool DlgVideoFormat() override;
    bool DlgVideoCompression() override;
    void Close() override;

private:
    // Takes the camera a clip would use now; false when there is none.
    bool Refresh();
    void EndClip();

    std::shared_ptr<capgst::CaptureCore> core_;
    QString name_;
    QPointer<QWidget> owner_;
    bool connected_ = false;
    std::optional<capgst::Camera> camera_;
    capgst::GstCapsPtr offered_;
    QString file_;
    CaptureParms parms_;
    uint32_t clipLength_ = 0;
    int64_t folderLimit_ = 0;
    bool timeStamp_ = false;
    QString listedAhead_;
    std::shared_ptr<capgst::Clip> clip_;
};

}  // namespace camwarden
