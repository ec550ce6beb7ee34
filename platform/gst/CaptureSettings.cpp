#include "platform/gst/CaptureSettings.h"

#include <QSettings>

#include "platform/Os.h"
#include "platform/gst/Camera.h"

namespace camwarden::capgst {
namespace {

constexpr auto kGroup = "CaptureDriver";

}  // namespace

std::unique_ptr<QSettings> SettingsLocation::Open() const {
    if (!iniFile_.isEmpty()) return std::make_unique<QSettings>(iniFile_, QSettings::IniFormat);
    // Beside the program's own settings, wherever the system keeps those.
    const QString application = QStringLiteral("Quillory");
    if (const QString file = os::SettingsFile(application); !file.isEmpty())
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
    return std::make_unique<QSettings>(os::SettingsKey(application), QSettings::NativeFormat);
}

DriverSettings SettingsLocation::Load() const {
    const auto qs = Open();
    qs->beginGroup(QLatin1String(kGroup));
    DriverSettings s;
    s.device = qs->value(QStringLiteral("Device"), s.device).toString();
    s.deviceName = qs->value(QStringLiteral("DeviceName"), s.deviceName).toString();
    s.deviceId = qs->value(QStringLiteral("DeviceId"), s.deviceId).toString();
    s.width = qs->value(QStringLiteral("Width"), s.width).toInt();
    s.height = qs->value(QStringLiteral("Height"), s.height).toInt();
    s.frameRateNum = qs->value(QStringLiteral("FrameRateNum"), s.frameRateNum).toInt();
    s.frameRateDen = qs->value(QStringLiteral("FrameRateDen"), s.frameRateDen).toInt();
    s.passMjpeg = qs->value(QStringLiteral("PassMjpeg"), s.passMjpeg).toBool();
    s.jpegQuality = qs->value(QStringLiteral("JpegQuality"), s.jpegQuality).toInt();
    // Hand-edited nonsense must not reach the pipeline.
    // Sizes past any camera's are nonsense too; the camera's own offer decides then.
    constexpr int kMaxSide = 16384;
    if (s.width < 0 || s.height < 0 || s.width > kMaxSide || s.height > kMaxSide ||
        (s.width == 0) != (s.height == 0))
        s.width = s.height = 0;
    // A rate no camera delivers is ignored rather than bounded: it was never chosen.
    if (!PlausibleFrameRate({s.frameRateNum, s.frameRateDen})) {
        s.frameRateNum = 0;
        s.frameRateDen = 1;
    }
    if (s.jpegQuality < 1 || s.jpegQuality > 100) s.jpegQuality = 85;
    qs->beginGroup(QStringLiteral("Controls"));
    for (const QString& key : qs->childKeys()) {
        bool ok = false;
        const int v = qs->value(key).toInt(&ok);
        if (ok) s.controls.insert(key, v);
    }
    qs->endGroup();
    qs->endGroup();
    return s;
}

void SettingsLocation::Save(const DriverSettings& s) const {
    const auto qs = Open();
    qs->beginGroup(QLatin1String(kGroup));
    qs->setValue(QStringLiteral("Device"), s.device);
    qs->setValue(QStringLiteral("DeviceName"), s.deviceName);
    qs->setValue(QStringLiteral("DeviceId"), s.deviceId);
    qs->setValue(QStringLiteral("Width"), s.width);
    qs->setValue(QStringLiteral("Height"), s.height);
    qs->setValue(QStringLiteral("FrameRateNum"), s.frameRateNum);
    qs->setValue(QStringLiteral("FrameRateDen"), s.frameRateDen);
    qs->setValue(QStringLiteral("PassMjpeg"), s.passMjpeg);
    qs->setValue(QStringLiteral("JpegQuality"), s.jpegQuality);
    qs->remove(QStringLiteral("Controls"));
    qs->beginGroup(QStringLiteral("Controls"));
    for (auto it = s.controls.cbegin(); it != s.controls.cend(); ++it)
        qs->setValue(it.key(), it.value());
    qs->endGroup();
    qs->endGroup();
    qs->sync();
}

}  // namespace camwarden::capgst
