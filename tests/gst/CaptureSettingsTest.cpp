#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "platform/gst/Camera.h"
#include "platform/gst/CaptureSettings.h"
#include "platform/gst/Clip.h"

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
    s.deviceName = QStringLiteral("HD Pro Webcam C920");
    s.deviceId = QStringLiteral("pci-0000:00:14.0-usb-0:3:1.0");
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

// A rate no camera delivers made a 5-second clip of 75 MB that played for
// 0.13 s, or wrapped around into a header claiming 2431 s.
TEST(CaptureSettings, FrameRatesAndSizesOutsideWhatACameraMeansAreIgnored) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Quillory.ini"));
    const auto load = [&](int num, int den, int side) {
        QSettings qs(ini, QSettings::IniFormat);
        qs.setValue(QStringLiteral("CaptureDriver/FrameRateNum"), num);
        qs.setValue(QStringLiteral("CaptureDriver/FrameRateDen"), den);
        qs.setValue(QStringLiteral("CaptureDriver/Width"), side);
        qs.setValue(QStringLiteral("CaptureDriver/Height"), side);
        qs.sync();
        return SettingsLocation(ini).Load();
    };
    for (const auto& [num, den] : {std::pair{100000, 1}, {1, 100000}, {1001, 1}, {1, 2}}) {
        const DriverSettings s = load(num, den, 100000);
        EXPECT_EQ(s.frameRateNum, 0) << num << "/" << den;
        EXPECT_EQ(s.width, 0);
    }
    EXPECT_EQ(load(120, 1, 320).frameRateNum, 120);
    // A fast camera lists these; the clip is recorded at them when it does.
    EXPECT_EQ(load(240, 1, 320).frameRateNum, 240);
    EXPECT_EQ(load(30000, 1001, 320).width, 320);

    // The request of the sequence setup is bounded the same way, without wrapping.
    EXPECT_EQ(BoundedFrameRate({100000, 1}), (Fraction{120, 1}));
    EXPECT_EQ(BoundedFrameRate({1, 100000}), (Fraction{1, 1}));
    EXPECT_EQ(BoundedFrameRate({30000, 1001}), (Fraction{30000, 1001}));
    EXPECT_EQ(MicroSecondsFromFrameRate({1, 100000}), UINT32_MAX);
}

// The room a clip needs goes by its own length: a long clip before does not
// make a short test clip look too big for the disk.
TEST(CaptureSettings, RoomNeededGoesByTheClipAboutToStart) {
    const DiskUse hourLong{1'000'000, 3600};
    ClipPlan test;
    test.meantSeconds = 5;
    EXPECT_EQ(RoomNeeded(test, hourLong), 6'250'000);
    ClipPlan unsaid;
    EXPECT_EQ(RoomNeeded(unsaid, hourLong), 4'500'000'000LL);
    ClipPlan limited;
    limited.timeLimitSeconds = 60;
    limited.meantSeconds = 5;
    EXPECT_EQ(RoomNeeded(limited, hourLong), 75'000'000);
    // Too short to judge by, or nothing recorded yet: the floors.
    test.meantSeconds = 1;
    EXPECT_EQ(RoomNeeded(test, DiskUse{100, 1}), 1024 * 1024);
    EXPECT_EQ(RoomNeeded(test, std::nullopt), 1024 * 1024);
}

}  // namespace
}  // namespace camwarden::capgst
