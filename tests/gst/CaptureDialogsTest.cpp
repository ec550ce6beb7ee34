#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "AviProbe.h"
#include "platform/gst/CaptureDialogs.h"
#include "platform/gst/CaptureSettings.h"
#include "platform/gst/GstCaptureSystem.h"
#include "tests/gstfaults/FaultyCameras.h"

namespace camwarden {
namespace {

using capgst::DriverSettings;
using capgst::SettingsLocation;

// Answers the next modal dialog once it is open, as a user would.
void WhenDialogOpens(std::function<void(QDialog&)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        act(*d);
    });
}

bool ControlsShown(QDialog& d) {
    return QTest::qWaitFor([&] { return d.findChild<QWidget*>("readingControls") == nullptr; },
                           10000);
}

class CaptureDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        system_ = std::make_unique<GstCaptureSystem>("test-mjpeg", Ini());
        window_ = system_->CreateCaptureWindow("SaveCam", &owner_);
        ASSERT_TRUE(window_ && window_->DriverConnect(0));
    }
    QString Ini() const { return dir_.filePath("Quillory.ini"); }
    DriverSettings Saved() const { return SettingsLocation(Ini()).Load(); }

    QTemporaryDir dir_;
    QWidget owner_;
    std::unique_ptr<GstCaptureSystem> system_;
    std::unique_ptr<CaptureWindow> window_;
};

TEST_F(CaptureDialogs, FormatChoiceIsSavedAndBecomesTheRequestedRate) {
    WhenDialogOpens([](QDialog& d) {
        auto* sizes = d.findChild<QComboBox*>("sizeList");
        auto* rates = d.findChild<QComboBox*>("rateList");
        ASSERT_TRUE(sizes && rates);
        EXPECT_EQ(sizes->count(), 3);
        EXPECT_EQ(sizes->currentText(), "640 × 480");
        sizes->setCurrentIndex(sizes->findText("320 × 240"));
        rates->setCurrentIndex(rates->findText("30 frames per second"));
        d.accept();
    });
    EXPECT_TRUE(window_->DlgVideoFormat());
    const DriverSettings s = Saved();
    EXPECT_EQ(s.width, 320);
    EXPECT_EQ(s.height, 240);
    EXPECT_EQ(s.frameRateNum, 30);
    CaptureParms p;
    window_->GetSequenceSetup(p);
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 33333u);

    // A window made later starts from the saved rate too.
    auto later = system_->CreateCaptureWindow("SaveCam", &owner_);
    later->GetSequenceSetup(p);
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 33333u);
}

TEST_F(CaptureDialogs, CancelChangesNothing) {
    const DriverSettings before = Saved();
    WhenDialogOpens([](QDialog& d) {
        d.findChild<QComboBox*>("sizeList")->setCurrentIndex(2);
        d.reject();
    });
    EXPECT_TRUE(window_->DlgVideoFormat());
    WhenDialogOpens([](QDialog& d) {
        d.findChild<QCheckBox*>("passMjpeg")->setChecked(false);
        d.findChild<QSpinBox*>("jpegQuality")->setValue(10);
        d.reject();
    });
    EXPECT_TRUE(window_->DlgVideoCompression());
    WhenDialogOpens([](QDialog& d) {
        auto* cams = d.findChild<QComboBox*>("cameraList");
        cams->setCurrentIndex(0);
        d.reject();
    });
    EXPECT_TRUE(window_->DlgVideoSource());
    EXPECT_EQ(Saved(), before);
    EXPECT_TRUE(window_->SetPreview(false));
}

TEST_F(CaptureDialogs, ParametersAreSavedAndOwnedByTheOwnerWindow) {
    WhenDialogOpens([this](QDialog& d) {
        EXPECT_EQ(d.parentWidget(), &owner_);
        EXPECT_EQ(d.findChild<QWidget*>("noMjpeg"), nullptr);
        d.findChild<QCheckBox*>("passMjpeg")->setChecked(false);
        d.findChild<QSpinBox*>("jpegQuality")->setValue(50);
        d.accept();
    });
    EXPECT_TRUE(window_->DlgVideoCompression());
    EXPECT_FALSE(Saved().passMjpeg);
    EXPECT_EQ(Saved().jpegQuality, 50);
}

TEST_F(CaptureDialogs, SourceKeepsTheTestCameraForThisRunOnlyAndSavesItsControls) {
    WhenDialogOpens([](QDialog& d) {
        auto* cams = d.findChild<QComboBox*>("cameraList");
        EXPECT_EQ(cams->currentText(), "Camwarden test camera (MJPEG) (test-mjpeg)");
        // The controls come once the camera has answered, the dialog at once.
        EXPECT_NE(d.findChild<QWidget*>("readingControls"), nullptr);
        ASSERT_TRUE(ControlsShown(d));
        EXPECT_EQ(d.findChild<QWidget*>("noControls"), nullptr);
        auto* brightness = d.findChild<QSlider*>("control_brightness");
        ASSERT_NE(brightness, nullptr);
        EXPECT_EQ(brightness->value(), 0);
        EXPECT_EQ(brightness->minimum(), -100);
        brightness->setValue(-30);
        d.accept();
    });
    EXPECT_TRUE(window_->DlgVideoSource());
    const DriverSettings s = Saved();
    EXPECT_EQ(s.device, "");
    EXPECT_EQ(s.controls.value("brightness"), -30);
    EXPECT_EQ(s.controls.value("contrast"), 100);
    EXPECT_TRUE(window_->SetPreview(false));

    // Opened again, the dialog shows what was chosen, in figures too, and
    // the camera's own values are one button away.
    WhenDialogOpens([](QDialog& d) {
        ASSERT_TRUE(ControlsShown(d));
        auto* brightness = d.findChild<QSlider*>("control_brightness");
        EXPECT_EQ(brightness->value(), -30);
        EXPECT_EQ(d.findChild<QLabel*>("value_brightness")->text(), "-30");
        d.findChild<QPushButton*>("defaults")->click();
        EXPECT_EQ(brightness->value(), 0);
        EXPECT_EQ(d.findChild<QLabel*>("value_brightness")->text(), "0");
        d.accept();
    });
    EXPECT_TRUE(window_->DlgVideoSource());
    EXPECT_EQ(Saved().controls.value("brightness", -1), 0);
}

// A camera named for the run (--camera) is this run's only: accepting the
// dialog as it opened saves no camera; picking one saves it.
TEST(VideoSource, SavesTheRunsCameraOnlyWhenTheUserPicksOne) {
    ASSERT_TRUE(InitGStreamer());
    ASSERT_TRUE(faults::RegisterFaultyCameras());
    QTemporaryDir dir;
    const QString ini = dir.filePath("Quillory.ini");
    QWidget owner;
    GstCaptureSystem system("fault-slow", ini);
    auto window = system.CreateCaptureWindow("SaveCam", &owner);
    ASSERT_TRUE(window && window->DriverConnect(0));

    WhenDialogOpens([](QDialog& d) {
        EXPECT_THAT(d.findChild<QComboBox*>("cameraList")->currentText().toStdString(),
                    ::testing::HasSubstr("fault-slow"));
        d.accept();
    });
    EXPECT_TRUE(window->DlgVideoSource());
    EXPECT_EQ(SettingsLocation(ini).Load().device.toStdString(), "");

    WhenDialogOpens([](QDialog& d) {
        auto* cams = d.findChild<QComboBox*>("cameraList");
        cams->setCurrentIndex(cams->findText("fault-noeos", Qt::MatchContains));
        d.accept();
    });
    EXPECT_TRUE(window->DlgVideoSource());
    EXPECT_EQ(SettingsLocation(ini).Load().device.toStdString(), "fault-noeos");
}

// What the dialog shows is what the next file holds: opened on a fresh
// profile and accepted as it is, and again after a choice.
TEST_F(CaptureDialogs, FormatShownIsWhatTheNextFileHolds) {
    using namespace std::chrono_literals;
    const auto recordOneSecond = [&](const QString& file) {
        CaptureParms p;
        window_->GetSequenceSetup(p);
        p.fLimitEnabled = 1;
        p.wTimeLimit = 1;
        window_->SetSequenceSetup(&p);
        EXPECT_TRUE(window_->SetCaptureFile(file));
        EXPECT_TRUE(window_->Sequence());
        EXPECT_TRUE(system_->WaitUntilIdle(10s));
        return testing::ProbeAvi(file);
    };
    const auto shown = [](QDialog& d) {
        return d.findChild<QComboBox*>("sizeList")->currentText() + " @ " +
               d.findChild<QComboBox*>("rateList")->currentText();
    };

    QString opened;
    WhenDialogOpens([&](QDialog& d) {
        opened = shown(d);
        d.accept();
    });
    ASSERT_TRUE(window_->DlgVideoFormat());
    EXPECT_EQ(opened, "640 × 480 @ 15 frames per second");
    auto info = recordOneSecond(dir_.filePath("as-shown.avi"));
    EXPECT_EQ(QStringLiteral("%1 × %2").arg(info.width).arg(info.height), "640 × 480");
    EXPECT_EQ(info.frameRate, "15/1");
    EXPECT_EQ(info.decodedFrames, 15);

    WhenDialogOpens([&](QDialog& d) {
        auto* sizes = d.findChild<QComboBox*>("sizeList");
        auto* rates = d.findChild<QComboBox*>("rateList");
        sizes->setCurrentIndex(sizes->findText("320 × 240"));
        rates->setCurrentIndex(rates->findText("10 frames per second"));
        opened = shown(d);
        d.accept();
    });
    ASSERT_TRUE(window_->DlgVideoFormat());
    info = recordOneSecond(dir_.filePath("chosen.avi"));
    EXPECT_EQ(opened, "320 × 240 @ 10 frames per second");
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(info.height, 240);
    EXPECT_EQ(info.frameRate, "10/1");
    EXPECT_EQ(info.decodedFrames, 10);

    // And it opens on that choice next time.
    WhenDialogOpens([&](QDialog& d) {
        opened = shown(d);
        d.reject();
    });
    ASSERT_TRUE(window_->DlgVideoFormat());
    EXPECT_EQ(opened, "320 × 240 @ 10 frames per second");
}

TEST_F(CaptureDialogs, ParametersOfferPassingThroughOnlyForAnMjpegCamera) {
    WhenDialogOpens([](QDialog& d) {
        auto* pass = d.findChild<QCheckBox*>("passMjpeg");
        EXPECT_TRUE(pass->isEnabled());
        EXPECT_TRUE(pass->isChecked());
        EXPECT_EQ(d.findChild<QWidget*>("noMjpeg"), nullptr);
        auto* quality = d.findChild<QSpinBox*>("jpegQuality");
        EXPECT_EQ(quality->minimum(), 1);
        EXPECT_EQ(quality->maximum(), 100);
        EXPECT_EQ(d.findChild<QLabel*>("jpegQualityRange")->text(), "1–100, default 85");
        d.reject();
    });
    EXPECT_TRUE(window_->DlgVideoCompression());

    // A raw-only camera: the box is off and says why; accepting does not
    // overwrite the choice kept for cameras that have MJPEG.
    GstCaptureSystem raw("test", Ini());
    auto w = raw.CreateCaptureWindow("SaveCam", &owner_);
    ASSERT_TRUE(w && w->DriverConnect(0));
    WhenDialogOpens([](QDialog& d) {
        auto* pass = d.findChild<QCheckBox*>("passMjpeg");
        EXPECT_FALSE(pass->isEnabled());
        EXPECT_FALSE(pass->isChecked());
        EXPECT_NE(d.findChild<QLabel*>("noMjpeg"), nullptr);
        d.findChild<QSpinBox*>("jpegQuality")->setValue(40);
        d.accept();
    });
    EXPECT_TRUE(w->DlgVideoCompression());
    EXPECT_TRUE(Saved().passMjpeg);
    EXPECT_EQ(Saved().jpegQuality, 40);
}

TEST(FormatOptions, ListWhatTheUsedFormOffersFastestFirst) {
    InitGStreamer();
    const capgst::GstCapsPtr caps(
        gst_caps_from_string("image/jpeg,width=1280,height=720,framerate={15/1,30/1};"
                             "video/x-raw,format=YUY2,width=640,height=480,framerate=[5/1,30/1]"));
    DriverSettings s;
    auto o = capgst::FormatOptions(caps.get(), s);
    ASSERT_EQ(o.size(), 1u);
    EXPECT_EQ(o[0].width, 1280);
    EXPECT_EQ(o[0].rates, (std::vector<capgst::Fraction>{{30, 1}, {15, 1}}));

    s.passMjpeg = false;
    o = capgst::FormatOptions(caps.get(), s);
    ASSERT_EQ(o.size(), 1u);
    EXPECT_EQ(o[0].width, 640);
    EXPECT_EQ(o[0].rates.front(), (capgst::Fraction{30, 1}));
    EXPECT_EQ(o[0].rates.back(), (capgst::Fraction{5, 1}));
}

}  // namespace
}  // namespace camwarden
