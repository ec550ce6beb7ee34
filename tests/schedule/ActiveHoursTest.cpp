#include "schedule/ActiveHours.h"
#include "support/FormFixture.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimeZone>

namespace camwarden::testing {
namespace {

// Instants in UTC, so that a time a clock change skips or repeats is meant
// exactly; the comments give Berlin's wall clock.
int64_t Utc(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
}

UtcOffsetAt Berlin() {
    return [zone = QTimeZone("Europe/Berlin")](int64_t t) {
        return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(t, Qt::UTC));
    };
}

struct SpanCase {
    const char* what;
    const char* from;
    const char* to;
    const char* days;
    const char* now;
    bool inside;
    const char* opening;  // nullptr: none
    const char* end;
};

// 2026-12-07 is a Monday; Berlin springs forward 2026-03-29 at 02:00 and
// falls back 2026-10-25 at 03:00.
const SpanCase kSpans[] = {
    {"before the opening", "08:00", "08:01", "1111111", "2026-12-07T06:59:35Z", false,
     "2026-12-07T07:00:00Z", "2026-12-07T07:01:00Z"},
    {"the opening is in", "08:00", "08:01", "1111111", "2026-12-07T07:00:00Z", true,
     "2026-12-07T07:00:00Z", "2026-12-07T07:01:00Z"},
    {"the end is out: the next day's", "08:00", "08:01", "1111111", "2026-12-07T07:01:00Z", false,
     "2026-12-08T07:00:00Z", "2026-12-08T07:01:00Z"},
    {"a day left out is skipped (Sat 08:00:30)", "08:00", "08:01", "1111100",
     "2026-12-12T07:00:30Z", false, "2026-12-14T07:00:00Z", "2026-12-14T07:01:00Z"},
    {"over midnight, Tuesday only (Wed 00:00:50)", "23:59", "00:01", "0100000",
     "2026-12-08T23:00:50Z", true, "2026-12-08T22:59:00Z", "2026-12-08T23:01:00Z"},
    {"over midnight, ended (Wed 00:01)", "23:59", "00:01", "0100000", "2026-12-08T23:01:00Z", false,
     "2026-12-15T22:59:00Z", "2026-12-15T23:01:00Z"},
    {"Friday's night runs into Saturday, not ticked (Sat 05:00)", "22:00", "06:00", "1111100",
     "2026-12-12T04:00:00Z", true, "2026-12-11T21:00:00Z", "2026-12-12T05:00:00Z"},
    {"a night span opens only on its own day (Mon 05:00)", "22:00", "06:00", "1111100",
     "2026-12-14T04:00:00Z", false, "2026-12-14T21:00:00Z", "2026-12-15T05:00:00Z"},
    {"equal ends: a whole day from Monday's (Tue 07:59)", "08:00", "08:00", "1000000",
     "2026-12-08T06:59:00Z", true, "2026-12-07T07:00:00Z", "2026-12-08T07:00:00Z"},
    {"equal ends, Monday only, over (Tue 08:00)", "08:00", "08:00", "1000000",
     "2026-12-08T07:00:00Z", false, "2026-12-14T07:00:00Z", "2026-12-15T07:00:00Z"},
    {"equal ends every day: one span after the other", "00:00", "00:00", "1111111",
     "2026-12-07T23:00:00Z", true, "2026-12-07T23:00:00Z", "2026-12-08T23:00:00Z"},
    {"skipped opening 02:30 opens at 03:00 CEST", "02:30", "04:00", "0000001",
     "2026-03-29T00:30:00Z", false, "2026-03-29T01:00:00Z", "2026-03-29T02:00:00Z"},
    {"skipped end 02:30 ends at 03:00 CEST", "01:00", "02:30", "0000001", "2026-03-29T00:59:59Z",
     true, "2026-03-29T00:00:00Z", "2026-03-29T01:00:00Z"},
    {"a whole day with the hour skipped lasts 23 h", "00:00", "00:00", "0000001",
     "2026-03-29T12:00:00Z", true, "2026-03-28T23:00:00Z", "2026-03-29T22:00:00Z"},
    {"repeated 02:30 opens at the first", "02:30", "02:45", "0000001", "2026-10-25T00:00:00Z",
     false, "2026-10-25T00:30:00Z", "2026-10-25T00:45:00Z"},
    {"repeated 02:30 opens once: the second is out", "02:30", "02:45", "0000001",
     "2026-10-25T01:35:00Z", false, "2026-11-01T01:30:00Z", "2026-11-01T01:45:00Z"},
    {"a whole day with the hour repeated lasts 25 h", "00:00", "00:00", "0000001",
     "2026-10-25T22:59:59Z", true, "2026-10-24T22:00:00Z", "2026-10-25T23:00:00Z"},
    {"no day ticked: never", "08:00", "18:00", "0000000", "2026-12-07T07:00:00Z", false, nullptr,
     nullptr},
};

TEST(ActiveHours, PlacesAnInstantAmongTheSpans) {
    for (const SpanCase& c : kSpans) {
        SCOPED_TRACE(c.what);
        const ActiveHours hours{*ActiveTimeFrom(QString::fromLatin1(c.from)),
                                *ActiveTimeFrom(QString::fromLatin1(c.to)),
                                *ActiveDaysFrom(QString::fromLatin1(c.days))};
        const SpanPlace place = PlaceIn(hours, Utc(c.now), Berlin());
        EXPECT_EQ(place.inside, c.inside);
        if (c.opening == nullptr) {
            EXPECT_FALSE(place.openingMs);
            continue;
        }
        ASSERT_TRUE(place.openingMs);
        EXPECT_EQ(*place.openingMs, Utc(c.opening));
        EXPECT_EQ(place.endMs, Utc(c.end));
    }
}

TEST(ActiveHours, CacheWorksThePlaceOutAgainOnlyWhenItMayHaveChanged) {
    int looks = 0;
    const UtcOffsetAt utc = [&looks](int64_t) {
        ++looks;
        return 0;
    };
    SpanCache cache;
    ActiveHours hours;  // 08:00 to 18:00, every day
    const int64_t opening = Utc("2026-12-07T08:00:00Z");
    EXPECT_FALSE(cache.At(hours, opening - 2000, utc).inside);
    looks = 0;
    EXPECT_FALSE(cache.At(hours, opening - 1000, utc).inside);
    EXPECT_EQ(looks, 0);
    EXPECT_TRUE(cache.At(hours, opening, utc).inside) << "the opening";
    EXPECT_FALSE(cache.At(hours, opening - 5000, utc).inside) << "the clock set back";
    hours.days[0] = false;
    EXPECT_FALSE(cache.At(hours, opening + 1000, utc).inside) << "Monday left out";
}

// The row on the window: what it stores and reads back, and the schedule it makes.
class ActiveHoursRow : public FormFixture {
protected:
    Form1& Ready(const QString& on, const QString& from, const QString& to, const QString& days) {
        settings->Preset("Path", folder.path() + '/');
        settings->Preset("OftenIndex", "1");  // every 10 s
        settings->Preset("OftenIndex1", "1");
        settings->Preset("StartStopState", "On");
        settings->Preset("Active Hours", on);
        if (!from.isEmpty()) settings->Preset("Active From", from);
        if (!to.isEmpty()) settings->Preset("Active To", to);
        if (!days.isEmpty()) settings->Preset("Active Days", days);
        Form1& f = Load();
        capture->log.clear();
        return f;
    }
    void At(QDate day, QTime time) { clock->now = QDateTime(day, time); }
    int Count(const QString& entry) const { return capture->log.count(entry); }
    QTemporaryDir folder;
};

TEST_F(ActiveHoursRow, StoresWhatItShowsAndReadsItBackOrShowsOff) {
    Form1& f = Ready("On", "22:00", "06:30", "1111100");
    EXPECT_TRUE(f.Check11->isChecked());
    EXPECT_EQ(f.Text4->time(), QTime(22, 0));
    EXPECT_EQ(f.Text5->time(), QTime(6, 30));
    EXPECT_FALSE(f.Check12[5]->isChecked());
    EXPECT_TRUE(settings->writes.filter("Active").isEmpty()) << "nothing is written at start";
    f.Check12[5]->setChecked(true);
    EXPECT_EQ(settings->Stored("Active Days"), "1111110");
    EXPECT_EQ(settings->Stored("Active From"), "22:00");
    EXPECT_EQ(settings->Stored("Active Hours"), "On");
    // The last day on stays on.
    for (QPushButton* day : f.Check12) day->setChecked(false);
    EXPECT_TRUE(f.Check12[5]->isChecked());
    EXPECT_EQ(settings->Stored("Active Days"), "0000010");

    // Stored values it cannot show as they are: the row shows off.
    for (const auto& [from, days] : {std::pair{"25:00", "1111100"},
                                     {"8:00", "1111100"},
                                     {"08:00", "0000000"},
                                     {"08:00", "11111a0"},
                                     {"08:00", "111110"}}) {
        form.reset();
        settings->writes.clear();
        Form1& g = Ready("On", from, "18:00", days);
        EXPECT_FALSE(g.Check11->isChecked()) << from << " " << days;
        EXPECT_TRUE(settings->writes.filter("Active").isEmpty());
    }
}

TEST_F(ActiveHoursRow, RecordsFromTheOpeningAndLetsTheCameraGoOutside) {
    const QDate monday(2026, 12, 7);
    // 30 s clips: the last runs past the end.
    settings->Preset("ReturnSecondsRec", "30");
    At(monday, QTime(7, 59, 35));
    Form1& f = Ready("On", "08:00", "08:01", "1111111");
    f.Timer1_Timer();
    EXPECT_EQ(f.Frame4->title(), "On. Next webcam record will occur in: 00:00:25");
    EXPECT_EQ(Count("Close"), 1) << "released while outside";
    At(monday, QTime(7, 59, 51));
    f.Timer1_Timer();
    EXPECT_TRUE(f.Cam().Connected()) << "taken again ahead of the span";
    // One second after another from the opening, as the ticks come.
    for (int s = 0; s <= 80; ++s) {
        At(monday, QTime(8, 0, 0, 50).addSecs(s));
        const bool recording = f.Timer2->Enabled();
        f.Timer1_Timer();
        if (recording && f.Timer2->Enabled()) f.Timer2_Timer();
        if (s == 70) {
            EXPECT_EQ(Count("Close"), 1) << "the last clip is not cut at the end";
        }
    }
    EXPECT_EQ(Count("Sequence"), 6) << "08:00:00 to 08:00:50, none at 08:01:00";
    EXPECT_EQ(Count("Close"), 2) << "released once the last clip ended";
    EXPECT_EQ(f.Frame4->title(), "On. Next webcam record will occur in: 23:58:40");

    // The test button records outside too.
    f.PushButton2_Click();
    EXPECT_EQ(Count("Sequence"), 7);
}

}  // namespace
}  // namespace camwarden::testing
