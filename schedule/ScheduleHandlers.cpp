#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "capture/SaveSS.h"
#include "schedule/Choices.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <algorithm>
#include <cstdlib>

Q_LOGGING_CATEGORY(lcSchedule, "camwarden.schedule", QtInfoMsg)

namespace camwarden {

QString SecondsToClock(int32_t seconds) {
    // A fraction of a day shown as a time of day: hours wrap at 24, and a
    // negative count shows its size.
    const int64_t s = std::llabs(static_cast<int64_t>(seconds)) % 86400;
    return QTime(0, 0).addSecs(static_cast<int>(s)).toString(QStringLiteral("hh:mm:ss"));
}

void Form1::PushButton4_Click() {
    ErrorTrap trap(dialogs(), QStringLiteral("Form1.PushButton4_Click"));
    if (trap.If(100, [&] { return PushButton4->text() == QLatin1String(kTurnOn); })) {
        trap(102, [&] { PushButton4->setText(QLatin1String(kTurnOff)); });
        trap(104, [&] { Timer1->SetInterval(1000); });
        trap(106, [&] { Frame4->setTitle(QLatin1String(kStatusSwitchedOn)); });
        trap(108, [&] { cam_.StartWebCam(*this); });
        // A span already running is not at its opening.
        trap(109, [&] { spanOfLastTick_ = kNoTickYet; });
        trap(110,
             [&] { settings().Write(QStringLiteral("StartStopState"), QStringLiteral("On")); });
        qCInfo(lcSchedule) << "schedule switched on";
    } else if (trap.If(112, [&] { return PushButton4->text() == QLatin1String(kTurnOff); })) {
        trap(114, [&] { cam_.CloseWebCam(); });
        trap(116, [&] { PushButton4->setText(QLatin1String(kTurnOn)); });
        trap(118, [&] { Timer1->SetInterval(0); });
        trap(120, [&] { Frame4->setTitle(QLatin1String(kStatusOff)); });
        trap(122,
             [&] { settings().Write(QStringLiteral("StartStopState"), QStringLiteral("Off")); });
        qCInfo(lcSchedule) << "schedule switched off";
    }
}

void Form1::ShowCountdown(const QString& left) {
    Frame4->setTitle(QLatin1String(kStatusCountdown) + left);
    // Lets a long run be checked for a second shown twice or never.
    qCDebug(lcSchedule).noquote() << "countdown" << left;
}

void Form1::Timer1_Timer() {
    ErrorTrap trap(dialogs(), QStringLiteral("Form1.Timer1"));
    trap(100, [&] { IntervalSeconds = GetIntervalSeconds(); });
    if (trap.If(101, [&] { return Check11->isChecked(); })) {
        trap(103, [&] { ActiveHoursTick(); });
        return;
    }
    trap(102, [&] { ShowCountdown(SecondsToClock(IntervalSeconds - ElapsedSeconds)); });
    trap(104, [&] { ElapsedSeconds += 1; });
    trap(106, [&] { UpdateProgress(IntervalSeconds, ElapsedSeconds); });
    // A count at or past the interval is due: the interval may have been
    // made shorter without a click, and equality would then never come.
    if (trap.If(108, [&] { return IntervalSeconds > 0 && ElapsedSeconds >= IntervalSeconds; })) {
        trap(110, [&] { cam_.RecordClip(*this); });
        trap(112, [&] { ElapsedSeconds = 0; });
    }
}

void Form1::Timer2_Timer() {
    ErrorTrap trap(dialogs(), QStringLiteral("Form1.Timer2_Timer"));
    trap(100, [&] { Frame4->setTitle(QLatin1String(kStatusRecording)); });
    trap(102, [&] {
        state_.ClipSecondsLeft -= 1;
        // Past its end (ticks were missed while the program was stopped or
        // the machine asleep): it ends now, not that many ticks later.
        if (state_.ClipDueMs > 0 && platform().clock->SinceBootMs() >= state_.ClipDueMs &&
            state_.ClipSecondsLeft > 0) {
            qCInfo(lcSchedule) << "clip past its end while its countdown had"
                               << state_.ClipSecondsLeft << "s left; it ends now";
            state_.ClipSecondsLeft = 0;
        }
    });
    // With the schedule off nothing else moves the bar, so it follows the clip.
    if (trap.If(104, [&] { return Timer1->Interval() == 0; })) {
        trap(106, [&] {
            UpdateProgress(state_.ClipSeconds, state_.ClipSeconds - state_.ClipSecondsLeft);
        });
    }
    if (trap.If(108, [&] { return state_.ClipSecondsLeft < 1; })) {
        trap(110, [&] { SaveSS::SaveAll(*this); });
    }
}

void Form1::UpdateProgress(int32_t maximum, int32_t value) {
    // A bar whose maximum is not above its minimum turns into a busy
    // indicator; keep it a plain (empty) bar instead.
    ProgressBar1->setMaximum(std::max(maximum, ProgressBar1->minimum() + 1));
    if (value <= maximum) ProgressBar1->setValue(value);
}

void Form1::PushButton2_Click() {
    ErrorTrap trap(dialogs(), QStringLiteral("Form1.PushButton2_Click"));
    if (trap.If(100, [&] { return PushButton4->text() == QLatin1String(kTurnOn); })) {
        trap(102, [&] {
            dialogs().MsgBox(QStringLiteral(
                "You need to turn ON the camera, then press the 'Turn On' button to again to "
                "start capturing"));
        });
        return;
    }
    int32_t kept = 0;
    trap(104, [&] { kept = state_.ClipSeconds; });
    trap(106, [&] { state_.ClipSeconds = 5; });
    trap(108, [&] { cam_.RecordClip(*this); });
    trap(110, [&] { state_.ClipSeconds = kept; });
}

int32_t Form1::GetIntervalSeconds() const {
    return IntervalSecondsFor(ListView2->SelectedText());
}

std::optional<int32_t> Form1::GetClipSeconds() {
    std::optional<int32_t> seconds = LengthSecondsFor(ListView1->SelectedText());
    if (!seconds) {
        const std::optional<QString> answer = dialogs().InputBox(
            QLatin1String(kCustomPrompt), QLatin1String(kProductTitle), QStringLiteral("20"));
        // A cancelled or unusable answer keeps the length as it was.
        if (!answer) return std::nullopt;
        try {
            seconds = CustomMinutesToSeconds(*answer);
        } catch (const VbError&) {
            dialogs().MsgBox(QStringLiteral("Please enter a whole number of minutes up to 546."));
            return std::nullopt;
        }
    }
    settings().Write(QStringLiteral("ReturnSecondsRec"), QString::number(*seconds));
    return seconds;
}

void Form1::CheckClipAgainstInterval() {
    if (state_.ClipSeconds > IntervalSeconds) dialogs().MsgBox(QLatin1String(kLengthTooLong));
}

void Form1::ListView2_Click() {
    Untrapped("Form1.ListView2_Click", [&] {
        settings().Write(QStringLiteral("OftenIndex"), QString::number(ListView2->SelectedIndex()));
        IntervalSeconds = GetIntervalSeconds();
        ElapsedSeconds = 0;
        CheckClipAgainstInterval();
    });
}

void Form1::ListView1_Click() {
    Untrapped("Form1.ListView1_Click", [&] {
        settings().Write(QStringLiteral("OftenIndex1"),
                         QString::number(ListView1->SelectedIndex()));
        if (const std::optional<int32_t> seconds = GetClipSeconds()) {
            state_.ClipSeconds = *seconds;
            CheckClipAgainstInterval();
        }
    });
}

}  // namespace camwarden
