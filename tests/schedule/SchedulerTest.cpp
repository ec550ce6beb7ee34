#include "support/FormFixture.h"

#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

namespace camwarden::testing {
namespace {

// Ticks are driven by hand: one call is one second.
class Scheduler : public FormFixture {
protected:
    Form1& Ready(int intervalRow, int lengthRow, const char* startStop = "On") {
        settings->Preset("Path", folder.path() + '/');
        settings->Preset("OftenIndex", QString::number(intervalRow));
        settings->Preset("OftenIndex1", QString::number(lengthRow));
        settings->Preset("ReturnSecondsRec", QString::number(lengthRow == 1 ? 5 : 30));
        settings->Preset("StartStopState", startStop);
        Form1& f = Load();
        capture->log.clear();
        return f;
    }
    // One second of the program: the schedule tick, then the recording tick.
    void Second() {
        // A recording timer enabled during this second first ticks in the next.
        const bool recording = form->Timer2->IsTicking();
        if (form->Timer1->IsTicking()) form->Timer1_Timer();
        if (recording && form->Timer2->IsTicking()) form->Timer2_Timer();
    }
    int Count(const QString& entry) const { return capture->log.count(entry); }

    QTemporaryDir folder;
};

TEST_F(Scheduler, CountsDownRecordsAtTheIntervalAndStopsAfterTheLength) {
    Form1& f = Ready(1, 1);  // every 10 s, 5 s long
    QStringList countdown;
    for (int s = 1; s <= 9; ++s) {
        Second();
        countdown << f.Frame4->title();
    }
    EXPECT_EQ(countdown.first(), QStringLiteral("On. Next webcam record will occur in: 00:00:10"));
    EXPECT_EQ(countdown.last(), QStringLiteral("On. Next webcam record will occur in: 00:00:02"));
    EXPECT_EQ(Count("Sequence"), 0);
    Second();  // second 10
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next webcam record will occur in: 00:00:01"));
    EXPECT_EQ(Count("Sequence"), 1);
    EXPECT_EQ(f.ProgressBar1->value(), 10);
    EXPECT_EQ(f.ProgressBar1->maximum(), 10);
    EXPECT_EQ(f.ElapsedSeconds, 0);
    EXPECT_TRUE(f.Timer2->Enabled());
    for (int s = 11; s <= 14; ++s) Second();
    EXPECT_EQ(Count("Stop"), 0);
    Second();  // second 15: the fifth recording tick
    EXPECT_EQ(Count("Stop"), 1);
    EXPECT_FALSE(f.Timer2->Enabled());
    EXPECT_EQ(f.ProgressBar1->value(), 5);
    for (int s = 16; s <= 19; ++s) Second();
    EXPECT_EQ(Count("Sequence"), 1);
    Second();  // second 20
    EXPECT_EQ(Count("Sequence"), 2);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Scheduler, RecordingTicksShowRecordingAndTheNextTickStartsTheBarAgain) {
    Form1& f = Ready(1, 1);
    for (int s = 1; s <= 10; ++s) f.Timer1_Timer();
    f.Timer2_Timer();
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("Recording..."));
    f.Timer1_Timer();
    EXPECT_EQ(f.ProgressBar1->value(), 1);
}

TEST_F(Scheduler, TwentyFourHoursWrapsTheClock) {
    Form1& f = Ready(13, 1);
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next webcam record will occur in: 00:00:00"));
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next webcam record will occur in: 23:59:59"));
    EXPECT_EQ(SecondsToClock(3661), QStringLiteral("01:01:01"));
}

TEST_F(Scheduler, SwitchingOffAndOnResumesTheCount) {
    Form1& f = Ready(2, 1);
    for (int s = 0; s < 7; ++s) f.Timer1_Timer();
    f.PushButton4_Click();
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn On"));
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("Off."));
    EXPECT_EQ(f.Timer1->Interval(), 0);
    EXPECT_EQ(settings->Stored("StartStopState"), QStringLiteral("Off"));
    f.PushButton4_Click();
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn Off"));
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next Webcam Record will occur in:"));
    EXPECT_EQ(settings->Stored("StartStopState"), QStringLiteral("On"));
    EXPECT_EQ(f.ElapsedSeconds, 7);
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next webcam record will occur in: 00:00:23"));
}

TEST_F(Scheduler, IntervalClickRestartsTheCountdown) {
    Form1& f = Ready(2, 1);
    for (int s = 0; s < 12; ++s) f.Timer1_Timer();
    f.ListView2->SelectIndex(1);
    f.ListView2_Click();
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("On. Next webcam record will occur in: 00:00:10"));
}

TEST_F(Scheduler, CountPastAShorterIntervalIsDue) {
    Form1& f = Ready(2, 1);
    for (int s = 0; s < 20; ++s) f.Timer1_Timer();
    // Selection changed without a click: the count is already past 10.
    {
        const QSignalBlocker quiet(f.ListView2);
        f.ListView2->SelectIndex(1);
    }
    f.Timer1_Timer();
    EXPECT_EQ(Count("Sequence"), 1);
    EXPECT_EQ(f.ElapsedSeconds, 0);
}

TEST_F(Scheduler, ZeroLengthEndsAtTheFirstRecordingTick) {
    Form1& f = Ready(1, 1);
    state.ClipSeconds = 0;
    for (int s = 0; s < 10; ++s) f.Timer1_Timer();
    f.Timer2_Timer();
    EXPECT_EQ(Count("Stop"), 1);
    EXPECT_FALSE(f.Timer2->Enabled());
}

TEST_F(Scheduler, LengthBeyondTheIntervalNeverStopsWhileOn) {
    Ready(1, 3);  // every 10 s, 30 s long
    ASSERT_EQ(state.ClipSeconds, 30);
    for (int s = 0; s < 100; ++s) Second();
    EXPECT_EQ(Count("Sequence"), 10) << "each due time asks again";
    EXPECT_EQ(Count("Stop") + Count("Close"), 0) << "nothing of the program ends the clip";
    EXPECT_EQ(state.ClipSecondsLeft, 29);
}

TEST_F(Scheduler, SwitchingOffDuringAClipFinishesItAndTheCountdownStillEnds) {
    Form1& f = Ready(1, 1);
    for (int s = 0; s < 11; ++s) Second();
    f.PushButton4_Click();
    EXPECT_EQ(capture->log.mid(capture->log.indexOf("Sequence") + 1),
              (QStringList{"Close", "DriverDisconnect"}));
    EXPECT_TRUE(f.Timer2->Enabled()) << "off, clip finishing";
    for (int s = 0; s < 4; ++s) Second();
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("Recording..."));
    EXPECT_FALSE(f.Timer2->Enabled());
    EXPECT_EQ(f.ProgressBar1->maximum(), 5) << "with the schedule off the bar follows the clip";
    EXPECT_EQ(f.ProgressBar1->value(), 5);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Scheduler, TestClipNeedsTheScheduleOn) {
    Form1& f = Ready(2, 1, "Off");
    f.PushButton2_Click();
    EXPECT_EQ(dialogs->Texts(),
              QStringList{"You need to turn ON the camera, then press the 'Turn On' button to "
                          "again to start capturing"});
    EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("Camwarden"));
    EXPECT_EQ(Count("Sequence"), 0);
    EXPECT_FALSE(f.Timer2->Enabled());
}

TEST_F(Scheduler, TestClipLastsFiveSecondsAndKeepsTheChosenLength) {
    Form1& f = Ready(13, 3);
    f.PushButton2_Click();
    EXPECT_EQ(state.ClipSecondsLeft, 5);
    EXPECT_EQ(state.ClipSeconds, 30);
    for (int s = 0; s < 4; ++s) Second();
    EXPECT_EQ(Count("Stop"), 0);
    Second();
    EXPECT_EQ(Count("Stop"), 1);
    EXPECT_EQ(settings->Stored("ReturnSecondsRec"), QStringLiteral("30"));
    EXPECT_EQ(f.ElapsedSeconds, 5) << "the schedule's count goes on undisturbed";
}

TEST_F(Scheduler, TestClipDuringAScheduledClipCutsItToFiveSeconds) {
    Form1& f = Ready(2, 3);  // every 30 s, 30 s long
    for (int s = 0; s < 32; ++s) Second();
    ASSERT_EQ(state.ClipSecondsLeft, 28);
    f.PushButton2_Click();
    EXPECT_EQ(state.ClipSecondsLeft, 5);
    for (int s = 0; s < 5; ++s) Second();
    EXPECT_EQ(Count("Stop"), 1);
}

// Ticks missed while the program was stopped or the machine asleep do not
// stretch a clip: past its end, it ends at the next tick.
TEST_F(Scheduler, AClipPastItsEndWhileTicksWereMissedEndsAtTheNextTick) {
    Form1& f = Ready(1, 1);  // every 10 s, 5 s long
    for (int s = 0; s < 11; ++s) Second();
    ASSERT_TRUE(f.Timer2->Enabled());
    clock->sinceBootMs += 60'000;
    Second();
    EXPECT_EQ(Count("Stop"), 1);
    EXPECT_FALSE(f.Timer2->Enabled());
}

TEST_F(Scheduler, FailedTestClipStillRestoresTheLength) {
    Form1& f = Ready(2, 3);
    capture->refuse << "Sequence";
    f.PushButton2_Click();
    EXPECT_EQ(dialogs->Texts(), QStringList{"Error capturing video."});
    EXPECT_EQ(state.ClipSeconds, 30);
}

TEST_F(Scheduler, FailedClipWaitsAFullInterval) {
    Form1& f = Ready(1, 1);
    capture->refuse << "Sequence";
    for (int s = 0; s < 10; ++s) Second();
    EXPECT_EQ(dialogs->Texts(), QStringList{"Error capturing video."});
    EXPECT_EQ(f.ElapsedSeconds, 0);
    EXPECT_FALSE(f.Timer2->Enabled());
}

TEST_F(Scheduler, NoWebcamWhenSwitchingOnStillStoresOn) {
    Form1& f = Ready(1, 1, "Off");
    capture->refuse << "DriverConnect"
                    << "SetPreview";  // unplugged since start-up
    f.PushButton4_Click();
    EXPECT_EQ(dialogs->Texts(), QStringList{NoWebcamMessage()});
    EXPECT_EQ(f.PushButton4->text(), QStringLiteral("Turn On"));
    EXPECT_EQ(f.Frame4->title(), QStringLiteral("Off."));
    EXPECT_EQ(f.Timer1->Interval(), 0);
    EXPECT_EQ(settings->Stored("StartStopState"), QStringLiteral("On"));
}

TEST_F(Scheduler, ShutdownDuringAClipReleasesTheCameraAndWritesNothing) {
    Form1& f = Ready(1, 1);
    for (int s = 0; s < 12; ++s) Second();
    settings->writes.clear();
    capture->log.clear();
    f.close();
    EXPECT_EQ(capture->log, (QStringList{"Close", "DriverDisconnect"}));
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_TRUE(settings->writes.isEmpty());
    EXPECT_EQ(settings->Stored("StartStopState"), QStringLiteral("On"));
    EXPECT_TRUE(f.Unloaded());
}

}  // namespace
}  // namespace camwarden::testing
