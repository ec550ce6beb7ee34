#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "platform/gst/CaptureSettings.h"

namespace camwarden::capgst {
namespace {

TEST(CaptureSettings, RoundTripInOwnGroupLeavingTheProgramsKeysAlone) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Quillory.ini"));
    {
        QSettings program(ini, QSettings::IniFormat);
        program.setValue(QStringLiteral("Camwarden/StartStopState"), QStringLiteral("On"));
    }
    const SettingsLocation where(ini);
    EXPECT_EQ(where.Load(), DriverSettings{});

    DriverSettings s;
    s.device = QStringLiteral("/dev/video2");
    s.width = 320;
    s.height = 240;
    s.frameRateNum = 30000;
    s.frameRateDen = 1001;
    s.passMjpeg = false;
    s.jpegQuality = 60;
    s.controls = {{QStringLiteral("brightness"), -5}, {QStringLiteral("contrast"), 40}};
    where.Save(s);
    EXPECT_EQ(where.Load(), s);

    // Controls no longer chosen do not linger.
    s.controls.remove(QStringLiteral("contrast"));
    where.Save(s);
    EXPECT_EQ(where.Load(), s);

    QSettings check(ini, QSettings::IniFormat);
    EXPECT_EQ(check.value(QStringLiteral("Camwarden/StartStopState")).toString(), "On");
    EXPECT_EQ(check.childGroups(), (QStringList{"Camwarden", "CaptureDriver"}));
    check.beginGroup(QStringLiteral("Camwarden"));
    EXPECT_EQ(check.allKeys(), QStringList{"StartStopState"});
}

TEST(CaptureSettings, HandEditedNonsenseFallsBackToDefaults) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Quillory.ini"));
    {
        QSettings qs(ini, QSettings::IniFormat);
        qs.beginGroup(QStringLiteral("CaptureDriver"));
        qs.setValue(QStringLiteral("Width"), 640);  // height missing
        qs.setValue(QStringLiteral("FrameRateNum"), 30);
        qs.setValue(QStringLiteral("FrameRateDen"), 0);
        qs.setValue(QStringLiteral("JpegQuality"), 400);
        qs.setValue(QStringLiteral("Controls/brightness"), QStringLiteral("bright"));
    }
    const DriverSettings s = SettingsLocation(ini).Load();
    EXPECT_EQ(s.width, 0);
    EXPECT_EQ(s.height, 0);
    EXPECT_EQ(s.frameRateNum, 0);
    EXPECT_EQ(s.frameRateDen, 1);
    EXPECT_EQ(s.jpegQuality, 85);
    EXPECT_TRUE(s.controls.isEmpty());
}

}  // namespace
}  // namespace camwarden::capgst
