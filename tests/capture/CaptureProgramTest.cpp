#include "capture/SaveSS.h"
#include "gst/AviProbe.h"
#include "platform/gst/GstCaptureSystem.h"
#include "support/FormFixture.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <bit>
#include <numeric>

namespace camwarden::testing {
namespace {

class Capture : public FormFixture {
protected:
    Form1& Ready(const QString& folder = QStringLiteral("/clips/")) {
        settings->Preset("Path", folder);
        Form1& f = Load();
        capture->log.clear();
        return f;
    }
};

const QStringList kClipRequests(const QString& path) {
    return {"SetCaptureFile " + path, "GetSequenceSetup", "SetSequenceSetup 88",
            "SetSequenceSetup 0", "Sequence"};
}

// The layer's setup is read and written back with background capture on and
// audio off; every other field, whatever it held, goes back as it was.
CaptureParms Unusual() {
    std::array<uint32_t, sizeof(CaptureParms) / sizeof(uint32_t)> fields{};
    std::iota(fields.begin(), fields.end(), 1000u);
    return std::bit_cast<CaptureParms>(fields);
}

TEST_F(Capture, ClipIsNamedAfterItsStartAndRecordsInTheBackgroundWithoutAudio) {
    capture->parms = Unusual();
    Form1& f = Ready();
    state.ClipSeconds = 30;
    f.Cam().RecordClip(f);
    EXPECT_EQ(capture->log, kClipRequests("/clips/SS 2022-01-05 09-03-07.avi"));
    CaptureParms expected = Unusual();
    expected.fYield = 1;
    expected.fCaptureAudio = 0;
    EXPECT_EQ(capture->parms, expected);
    EXPECT_EQ(state.ClipSecondsLeft, 30);
    EXPECT_EQ(capture->clipLength, 30);
    EXPECT_TRUE(f.Timer2->Enabled());
    EXPECT_TRUE(dialogs->shown.empty());
}

// The stamp is stored the moment it is ticked, never at start-up, and told
// to each clip; a stored value neither On nor Off is shown off and logged once.
TEST_F(Capture, TheTimeStampIsStoredAtOnceAndToldToEachClip) {
    Form1& f = Ready();
    EXPECT_FALSE(f.Check13->isChecked());
    f.Cam().RecordClip(f);
    EXPECT_FALSE(capture->timeStamp);
    settings->writes.clear();
    f.Check13->click();
    EXPECT_EQ(settings->writes, QStringList{"Time Stamp=On"});
    f.Cam().RecordClip(f);
    EXPECT_TRUE(capture->timeStamp);
    capture->timeStamp = false;
    f.PushButton2_Click();  // the test clip too
    EXPECT_TRUE(capture->timeStamp);
    f.Check13->click();
    EXPECT_EQ(settings->writes, (QStringList{"Time Stamp=On", "Time Stamp=Off"}));

    static QStringList warnings;
    for (const auto& [stored, on, told] : {std::tuple{"On", true, false},
                                           {"Off", false, false},
                                           {"on", false, true},
                                           {"", false, true},
                                           {"1", false, true}}) {
        form.reset();
        settings->Preset("Time Stamp", stored);
        settings->writes.clear();
        warnings.clear();
        const QtMessageHandler before =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& t) {
                if (type == QtWarningMsg) warnings << t;
            });
        Form1& g = Ready();
        qInstallMessageHandler(before);
        EXPECT_EQ(g.Check13->isChecked(), on) << stored;
        EXPECT_EQ(warnings.filter(QStringLiteral("time stamp \"%1\"").arg(stored)).size(),
                  told ? 1 : 0)
            << stored;
        EXPECT_TRUE(settings->writes.filter(QStringLiteral("Time Stamp")).isEmpty()) << stored;
        g.Cam().RecordClip(g);
        EXPECT_EQ(capture->timeStamp, on) << stored;
    }
}

// A clip that could not start, or ended by a failure (disk full, camera
// gone), is reported like a start refused at once, and the schedule goes
// on. Only the failure of the clip being counted down ends the countdown.
TEST_F(Capture, AClipEndingByAFailureIsReportedInTheWindow) {
    settings->Preset("StartStopState", "On");
    Form1& f = Ready();
    ASSERT_TRUE(capture->onFailed);
    f.Cam().RecordClip(f);
    ASSERT_TRUE(f.Timer2->Enabled());
    capture->onFailed(QStringLiteral("/clips/SS 2022-01-05 09-02-57.avi"),
                      QStringLiteral("No space left on device"), false);
    EXPECT_TRUE(f.Timer2->Enabled()) << "an earlier clip's failure leaves this countdown";
    capture->onFailed(QStringLiteral("/clips/SS 2022-01-05 09-03-07.avi"),
                      QStringLiteral("the camera delivered no frame within 3.0 s"), true);
    EXPECT_FALSE(f.Timer2->Enabled());
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_EQ(dialogs->Texts(), QStringList(2, QStringLiteral("Error capturing video.")));
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn Off")) << "the schedule stays on";
    form.reset();
    EXPECT_FALSE(capture->onFailed) << "a closed window is not called back";
}

TEST_F(Capture, StampUsesTheTwentyFourHourClock) {
    clock->now = QDateTime(QDate(2022, 1, 5), QTime(21, 3, 7));
    Form1& f = Ready();
    f.Cam().RecordClip(f);
    EXPECT_EQ(capture->captureFile, QStringLiteral("/clips/SS 2022-01-05 21-03-07.avi"));
}

TEST_F(Capture, FolderTextIsCleanedAndGetsItsMissingSeparator) {
    Form1& f = Ready(QStringLiteral("/srv//clips"));
    f.Cam().RecordClip(f);
    EXPECT_EQ(capture->captureFile, QStringLiteral("/srv/clips/SS 2022-01-05 09-03-07.avi"));
    EXPECT_EQ(f.Text1->text(), QStringLiteral("/srv//clips")) << "the box keeps what was typed";
    f.Text1->setText(QStringLiteral("///srv/clips/"));
    f.Cam().RecordClip(f);
    EXPECT_EQ(capture->captureFile, QStringLiteral("/srv/clips/SS 2022-01-05 09-03-07.avi"));
}

TEST_F(Capture, RefusedCaptureIsReportedAndNoCountdownRuns) {
    for (const char* refused : {"SetCaptureFile", "Sequence"}) {
        capture->refuse = {QLatin1String(refused)};
        dialogs->shown.clear();
        Form1& f = Ready();
        f.Cam().RecordClip(f);
        EXPECT_EQ(dialogs->Texts(), QStringList{"Error capturing video."}) << refused;
        EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("Camwarden"));
        EXPECT_FALSE(f.Timer2->Enabled()) << refused;
    }
}

TEST_F(Capture, NoCaptureWindowOrNoFolderIsARefusal) {
    settings->Preset("StartStopState", "on");  // never connects
    Form1& f = Ready();
    f.Cam().RecordClip(f);
    EXPECT_EQ(dialogs->Texts(), QStringList{"Error capturing video."});
    EXPECT_FALSE(f.Timer2->Enabled());
    f.Cam().ConnectWebCam();
    f.Text1->clear();
    f.Cam().RecordClip(f);
    EXPECT_FALSE(f.Timer2->Enabled());
    EXPECT_FALSE(capture->log.join(' ').contains("Sequence"));
}

// Whether a running clip goes on is the capture layer's answer to the
// second request; the program must not stop or close it on the way.
TEST_F(Capture, SameSecondAsksAgainUnderTheSameNameWithoutStoppingTheClip) {
    Form1& f = Ready();
    f.Cam().RecordClip(f);
    f.Cam().RecordClip(f);
    const QStringList once = kClipRequests("/clips/SS 2022-01-05 09-03-07.avi");
    EXPECT_EQ(capture->log, once + once);
}

TEST_F(Capture, SaveAllStopsAndHandsBackToTheSchedule) {
    QTemporaryDir dir;
    Form1& f = Ready(dir.path() + '/');
    f.Cam().RecordClip(f);
    f.Timer1->SetEnabled(false);
    capture->log.clear();
    SaveSS::SaveAll(f);
    EXPECT_EQ(capture->log, QStringList{"Stop"});
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_FALSE(f.Timer2->Enabled());
    EXPECT_TRUE(f.Timer1->Enabled());
}

TEST_F(Capture, SaveAllStopsEvenWhenTheFolderIsGone) {
    Form1& f = Ready(QStringLiteral("/no/such/folder/"));
    f.Cam().RecordClip(f);
    capture->log.clear();
    SaveSS::SaveAll(f);
    EXPECT_EQ(capture->log, QStringList{"Stop"});
    EXPECT_EQ(dialogs->Texts(), QStringList{"Folder does not exist"});
    EXPECT_FALSE(f.Timer2->Enabled());
}

TEST_F(Capture, ConnectedWindowIsOnlyTestedAgain) {
    Form1& f = Ready();
    EXPECT_TRUE(f.Cam().ConnectWebCam());
    EXPECT_TRUE(f.Cam().ConnectWebCam());
    EXPECT_EQ(capture->log, (QStringList{"SetPreview 0", "SetPreview 0"}));
}

TEST_F(Capture, TurnOffThenOnMakesAndConnectsANewWindow) {
    Form1& f = Ready();
    f.PushButton4_Click();
    f.PushButton4_Click();
    EXPECT_EQ(capture->log,
              (QStringList{"Close", "DriverDisconnect", "Create SaveCam", "DriverConnect 0"}));
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn Off"));
}

TEST_F(Capture, FailedCreationIsTriedAgainNextTime) {
    capture->refuse << "Create";
    settings->Preset("StartStopState", "Off");
    Form1& f = Ready();
    EXPECT_EQ(dialogs->Texts(), QStringList{NoWebcamMessage()});
    capture->refuse.clear();
    EXPECT_TRUE(f.Cam().ConnectWebCam());
    EXPECT_EQ(capture->log, (QStringList{"Create SaveCam", "DriverConnect 0"}));
}

TEST_F(Capture, WebcamPluggedInAfterAFailedConnectIsFound) {
    capture->refuse << "DriverConnect";
    settings->Preset("StartStopState", "Off");
    Form1& f = Ready();
    capture->refuse.clear();
    f.PushButton5_Click();
    EXPECT_EQ(capture->log,
              (QStringList{"Close", "Create SaveCam", "DriverConnect 0", "DlgVideoSource"}));
}

TEST_F(Capture, EachDriverButtonTestsTheConnectionThenOpensItsDialog) {
    Form1& f = Ready();
    f.PushButton3_Click();
    f.PushButton5_Click();
    f.PushButton6_Click();
    EXPECT_EQ(capture->log, (QStringList{"SetPreview 0", "DlgVideoCompression", "SetPreview 0",
                                         "DlgVideoSource", "SetPreview 0", "DlgVideoFormat"}));
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Capture, DriverButtonsWithoutWebcamOnlyShowTheMessage) {
    Form1& f = Ready();
    capture->refuse << "SetPreview";
    f.PushButton6_Click();
    f.PushButton6_Click();
    EXPECT_EQ(capture->log, (QStringList{"SetPreview 0", "SetPreview 0"}));
    EXPECT_EQ(dialogs->Texts(), (QStringList{NoWebcamMessage(), NoWebcamMessage()}));
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn Off")) << "the switch is left alone";
    EXPECT_TRUE(f.Timer1->IsTicking());
}

// On the real capture layer and its test camera: a camera pulled out while
// the schedule runs costs the clip in progress (kept, finished) and the
// clips falling due while it is gone, never the program or the schedule.
TEST_F(Capture, ScheduleRidesOutACameraPulledOutAndPluggedBackIn) {
    using namespace std::chrono_literals;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto real = std::make_unique<GstCaptureSystem>(QStringLiteral("test"),
                                                   dir.filePath(QStringLiteral("Quillory.ini")));
    GstCaptureSystem& camera = *real;
    platform.capture = std::move(real);
    capture = nullptr;
    settings->Preset("Path", dir.path() + QLatin1Char('/'));
    settings->Preset("StartStopState", "On");
    Form1& f = Load();
    ASSERT_TRUE(dialogs->Texts().isEmpty());
    const auto dueAt = [&](const char* time) {
        clock->now = QDateTime(QDate(2022, 1, 5), QTime::fromString(QLatin1String(time)));
        f.Cam().RecordClip(f);
    };
    const QString error = QStringLiteral("Error capturing video.");

    dueAt("09:00:00");
    QTest::qWait(700);
    camera.SetTestCameraPlugged(false);
    ASSERT_TRUE(camera.WaitUntilIdle(5s));
    QTest::qWait(50);  // the failure reaches the window through its event loop
    EXPECT_EQ(dialogs->Texts(), QStringList{error});

    dueAt("09:00:30");
    EXPECT_EQ(dialogs->Texts(), (QStringList{error, error}));
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn Off")) << "the schedule stays on";

    camera.SetTestCameraPlugged(true);
    dueAt("09:01:00");
    QTest::qWait(1000);
    form.reset();  // closing the window finishes the clip
    ASSERT_TRUE(camera.WaitUntilIdle(5s));
    EXPECT_EQ(dialogs->Texts().size(), 2);
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.avi")}),
              (QStringList{"SS 2022-01-05 09-00-00.avi", "SS 2022-01-05 09-01-00.avi"}));
    for (const char* name : {"SS 2022-01-05 09-00-00.avi", "SS 2022-01-05 09-01-00.avi"}) {
        SCOPED_TRACE(name);
        const AviInfo info = ProbeAvi(dir.filePath(QLatin1String(name)));
        ASSERT_TRUE(info.readable);
        EXPECT_GT(info.decodedFrames, 5);
        EXPECT_EQ(info.headerFrames, info.decodedFrames);
        EXPECT_TRUE(info.hasIndex);
    }
}

}  // namespace
}  // namespace camwarden::testing
