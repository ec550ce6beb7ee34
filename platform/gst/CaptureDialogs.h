#pragma once

#include <QDialog>
#include <vector>

#include "platform/gst/Camera.h"
#include "platform/gst/CaptureSettings.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace camwarden::capgst {

struct FormatOption {
    int width = 0;
    int height = 0;
    std::vector<Fraction> rates;  // fastest first
};
// The sizes and rates the camera offers in the form it will be asked for
// (MJPEG or raw, as ChooseFormat decides with these settings).
std::vector<FormatOption> FormatOptions(const GstCaps* offered, const DriverSettings& settings);

// Which camera to use, and its picture controls.
class VideoSourceDialog : public QDialog {
    Q_OBJECT
public:
    VideoSourceDialog(const Camera& current, const std::vector<DeviceEntry>& devices,
                      const std::vector<PictureControl>& controls, const DriverSettings& settings,
                      QWidget* parent);
    // "" for the first device, a device node, or a test camera's name.
    QString ChosenCamera() const;
    // The settings with this dialog's choices applied.
    DriverSettings Apply(DriverSettings settings) const;

private:
    QComboBox* cameras_;
    std::vector<std::pair<QString, QWidget*>> controls_;
};

// Picture size and frame rate, from what the camera offers.
class VideoFormatDialog : public QDialog {
    Q_OBJECT
public:
    VideoFormatDialog(const GstCaps* offered, const DriverSettings& settings, QWidget* parent);
    DriverSettings Apply(DriverSettings settings) const;

private:
    void FillRates();

    std::vector<FormatOption> options_;
    QComboBox* sizes_;
    QComboBox* rates_;
    Fraction initialRate_;
};

// Whether the camera's MJPEG goes into the file untouched, and the quality
// of the JPEG made from raw video.
class VideoParametersDialog : public QDialog {
    Q_OBJECT
public:
    VideoParametersDialog(bool cameraOffersMjpeg, const DriverSettings& settings, QWidget* parent);
    DriverSettings Apply(DriverSettings settings) const;

private:
    QCheckBox* passMjpeg_;
    QSpinBox* quality_;
};

}  // namespace camwarden::capgst
