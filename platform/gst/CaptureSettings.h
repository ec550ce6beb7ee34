#pragma once

#include <QMap>
#include <QString>
#include <memory>

class QSettings;

namespace camwarden::capgst {

// The choices made in the capture dialogs. They live in the capture layer's
// own group so the program's keys are never touched.
struct DriverSettings {
    // The chosen camera: its device node, name and what identifies it
    // beyond both (serial or where it is plugged in). All empty: the first.
    QString device;
    QString deviceName;
    QString deviceId;
    int width = 0;  // 0: the camera's own choice
    int height = 0;
    int frameRateNum = 0;  // 0: the sequence setup's request alone decides
    int frameRateDen = 1;
    bool passMjpeg = true;
    int jpegQuality = 85;
    QMap<QString, int> controls;  // picture controls by their device name

    friend bool operator==(const DriverSettings&, const DriverSettings&) = default;
};

// Where the settings are kept: the per-user "Quillory" settings by default,
// or an INI file of the caller's choosing (tests).
class SettingsLocation {
public:
    SettingsLocation() = default;
    explicit SettingsLocation(QString iniFile) : iniFile_(std::move(iniFile)) {}

    std::unique_ptr<QSettings> Open() const;
    DriverSettings Load() const;
    void Save(const DriverSettings& s) const;

private:
    QString iniFile_;
};

}  // namespace camwarden::capgst
