#include "app/ErrorTrap.h"
#include "app/Form1.h"
#include "app/StoredLimit.h"
#include "schedule/ActiveHours.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLoggingCategory>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimeEdit>
#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcSchedule)

namespace camwarden {
namespace {

// The camera is taken again this long before a span opens: connecting looks
// the camera up, which must be over before the first clip is due.
constexpr int64_t kCameraLeadMs = 10000;
// The first tick of a span comes this long after its opening, so a clip's
// name, taken from the wall clock, is never the second before.
constexpr int kPastOpeningMs = 50;
// A span seen first this soon after its opening (the program was just
// started or switched on) is still at its opening.
constexpr int64_t kStillOpeningMs = 2000;

// Stored values that are missing are the row's defaults.
std::optional<ActiveHours> UsableActiveHours(const QString& from, const QString& to,
                                             const QString& days) {
    ActiveHours hours;
    if (!from.isEmpty()) {
        const std::optional<QTime> t = ActiveTimeFrom(from);
        if (!t) return std::nullopt;
        hours.from = *t;
    }
    if (!to.isEmpty()) {
        const std::optional<QTime> t = ActiveTimeFrom(to);
        if (!t) return std::nullopt;
        hours.to = *t;
    }
    if (!days.isEmpty()) {
        const std::optional<std::array<bool, 7>> d = ActiveDaysFrom(days);
        // No day at all would be a schedule that never records while it says "On".
        if (!d || std::none_of(d->begin(), d->end(), [](bool on) { return on; }))
            return std::nullopt;
        hours.days = *d;
    }
    return hours;
}

int64_t WholeSecondsUntil(int64_t fromMs, int64_t toMs) {
    return (toMs - fromMs + 999) / 1000;
}

}  // namespace

ActiveHours Form1::ActiveHoursShown() const {
    ActiveHours hours;
    hours.from = Text4->time();
    hours.to = Text5->time();
    for (size_t day = 0; day < Check12.size(); ++day) hours.days[day] = Check12[day]->isChecked();
    return hours;
}

void Form1::LoadActiveHours(const QString& on, const QString& from, const QString& to,
                            const QString& days) {
    const bool nothing = from.isEmpty() && to.isEmpty() && days.isEmpty();
    const auto [hours, ticked] = StoredLimit(
        on, nothing ? QString() : QStringLiteral("from %1 to %2 on %3").arg(from, to, days),
        UsableActiveHours(from, to, days), ActiveHours{}, QStringLiteral("active hours"),
        QStringLiteral("days"),
        QStringLiteral("times from 00:00 to 23:59, and seven 0 or 1 from Monday, one 1 at least"));
    Text4->setTime(hours.from);
    Text5->setTime(hours.to);
    for (size_t day = 0; day < Check12.size(); ++day) Check12[day]->setChecked(hours.days[day]);
    Check11->setChecked(ticked);
}

// Switch, hours and days together, as the window shows them (as the limits).
void Form1::StoreActiveHours() {
    const ActiveHours hours = ActiveHoursShown();
    settings().Write(QStringLiteral("Active From"), ActiveTimeText(hours.from));
    settings().Write(QStringLiteral("Active To"), ActiveTimeText(hours.to));
    settings().Write(QStringLiteral("Active Days"), ActiveDaysText(hours.days));
    StoreSwitch(QStringLiteral("Active Hours"), Check11);
}

void Form1::Check11_Click() {
    if (FormLoading) return;
    Untrapped("Form1.Check11_Click", [&] {
        StoreActiveHours();
        // A span already running when the row is ticked is not at its opening.
        spanOfLastTick_ = kNoTickYet;
    });
}

void Form1::Text4_Change() {
    // Once typed (Enter, or leaving the box), as the limits' numbers.
    if (FormLoading) return;
    Untrapped("Form1.Text4_Change", [&] { StoreActiveHours(); });
}

void Form1::Text5_Change() {
    if (FormLoading) return;
    Untrapped("Form1.Text5_Change", [&] { StoreActiveHours(); });
}

void Form1::Check12_Click(int day) {
    if (FormLoading) return;
    Untrapped("Form1.Check12_Click", [&] {
        // The last day stays on, as a list keeps its last selection: no day
        // at all would never record.
        if (std::none_of(Check12.begin(), Check12.end(),
                         [](const QPushButton* t) { return t->isChecked(); })) {
            Check12[size_t(day)]->setChecked(true);
            return;
        }
        StoreActiveHours();
    });
}

void Form1::ActiveHoursTick() {
    const int64_t now = platform().clock->NowMs();
    const ActiveHours hours = ActiveHoursShown();
    const SpanPlace place = spans_.At(hours, now, LocalOffsetAt);
    const int64_t lastSpan = spanOfLastTick_;
    spanOfLastTick_ = place.inside ? *place.openingMs : kOutsideSpans;
    if (!place.inside) {
        WaitForSpan(place, now);
        return;
    }
    // Reached from outside (or another span), or just started at it: the
    // span's first clip is due now, and the interval counts from it.
    const bool opening = lastSpan != *place.openingMs &&
                         (lastSpan != kNoTickYet || now - *place.openingMs < kStillOpeningMs);
    if (opening) {
        qCInfo(lcSchedule).noquote()
            << "active hours: span opened at"
            << QDateTime::fromMSecsSinceEpoch(*place.openingMs).toString(Qt::ISODate);
        ElapsedSeconds = std::max(IntervalSeconds - 1, 0);
    }
    // No clip starts at or after the end: past its last the countdown is to
    // the next span.
    const int32_t left = IntervalSeconds - ElapsedSeconds;
    QString shown = SecondsToClock(left);
    if (now + int64_t(left) * 1000 >= place.endMs) {
        const SpanPlace& after = spansAfter_.At(hours, place.endMs, LocalOffsetAt);
        if (after.openingMs) shown = ClockWithDays(WholeSecondsUntil(now, *after.openingMs));
    }
    ShowCountdown(shown);
    ElapsedSeconds += 1;
    UpdateProgress(IntervalSeconds, ElapsedSeconds);
    if (IntervalSeconds > 0 && ElapsedSeconds >= IntervalSeconds) {
        // The count starts again also when the clip failed, as outside active hours.
        const auto again = qScopeGuard([this] { ElapsedSeconds = 0; });
        cam_.RecordClip(*this);
    }
}

void Form1::WaitForSpan(const SpanPlace& place, int64_t now) {
    if (!place.openingMs) return;  // no day ticked: the row never lets that be
    const int64_t untilOpening = *place.openingMs - now;
    ShowCountdown(ClockWithDays(WholeSecondsUntil(now, *place.openingMs)));
    UpdateProgress(IntervalSeconds, 0);
    if (untilOpening > kCameraLeadMs) {
        // Let go as Turn Off does, once no clip records (a clip running at
        // the end is finished) and no dialog of the camera's is open.
        if (cam_.hCapWnd() && !Timer2->Enabled() && !QApplication::activeModalWidget()) {
            cam_.ReleaseUntilNeeded();
            qCInfo(lcSchedule).noquote()
                << "active hours: camera released until"
                << QDateTime::fromMSecsSinceEpoch(*place.openingMs).toString(Qt::ISODate);
        }
    } else if (!cam_.Connected()) {
        const bool connected = cam_.ConnectWebCam();
        qCInfo(lcSchedule) << "active hours: camera taken again for the next span:"
                           << (connected ? "connected" : "not connected");
    }
    // The span's first clip starts at its opening, to the second, whatever
    // the ticks' phase: the tick before it is moved there.
    if (untilOpening < 1500) Timer1->TickAfter(int(untilOpening) + kPastOpeningMs);
}

}  // namespace camwarden
