#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "platform/gst/Camera.h"
#include "platform/gst/CaptureSettings.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSlider;
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
    // `firstInUse`: the current camera is in use as the first one there is,
    // not by name. No controls: they are still being asked for, and come
    // with SetControls.
    VideoSourceDialog(const Camera& current, bool firstInUse, std::vector<Camera> cameras,
                      const std::optional<std::vector<PictureControl>>& controls,
                      DriverSettings settings, QWidget* parent);
    void SetControls(const std::vector<PictureControl>& controls);
    // The camera picked; none for "the first camera there is".
    std::optional<Camera> ChosenCamera() const;
    // Whether another camera than the one shown at first was picked.
    bool CameraChanged() const;
    // The settings with this dialog's picture controls applied.
    DriverSettings Apply(DriverSettings settings) const;

private:
    std::vector<Camera> cameraList_;
    const DriverSettings settings_;
    QComboBox* cameras_;
    int shownCamera_ = 0;
    QFormLayout* form_;
    QLabel* reading_ = nullptr;
    QPushButton* defaults_;
    struct Control {
        QString name;
        int defaultValue;
        QSlider* slider;
    };
    std::vector<Control> controls_;
};

// Picture size and frame rate, from what the camera offers. It opens on
// what the next clip would use.
class VideoFormatDialog : public QDialog {
    Q_OBJECT
public:
    VideoFormatDialog(const GstCaps* offered, const DriverSettings& settings, Fraction nextRate,
                      QWidget* parent);
    DriverSettings Apply(DriverSettings settings) const;

private:
    void FillRates(Fraction keep);
    Fraction SelectedRate() const;

    std::vector<FormatOption> options_;
    QComboBox* sizes_;
    QComboBox* rates_;
};

// Whether the camera's MJPEG goes into the file untouched, and the quality
// of the JPEG made from raw video.
class VideoParametersDialog : public QDialog {
    Q_OBJECT
public:
    VideoParametersDialog(const GstCaps* offered, const DriverSettings& settings, QWidget* parent);
    DriverSettings Apply(DriverSettings settings) const;

private:
    QCheckBox* passMjpeg_;
    QSpinBox* quality_;
};

}  // namespace camwarden::capgst
