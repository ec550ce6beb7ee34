#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "storage/AgeLimit.h"
#include "storage/ClipFolder.h"
#include "storage/RecordedClips.h"
#include "support/StoreLog.h"

namespace camwarden::store {
namespace {

using std::chrono::milliseconds;
constexpr qint64 kMinute = 60'000;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

// What the age limit logged in this test.
QStringList Logged() {
    return testing::StoreLog::Lines();
}

// A folder kept within a day's age by a clock the test moves: the wall
// clock and the boot clock of this boot, which the test may pull apart.
class AgeLimitTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ages_.Set(dir_.path() + QLatin1Char('/'), 1);
    }

    QString Path(const QString& name) const { return dir_.filePath(name); }
    // A clip named after a wall time `ago` before now, as the program names them.
    QString NamedAgo(qint64 ago, const char* suffix = "") const {
        return QStringLiteral("SS ") +
               QDateTime::fromMSecsSinceEpoch(now_.wallMs - ago)
                   .toString(QStringLiteral("yyyy-MM-dd hh-mm-ss")) +
               QLatin1String(suffix) + QStringLiteral(".avi");
    }
    void Write(const QString& name) {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("clip");
    }
    // Noted in the record as made at `made`.
    void Recorded(const QString& name, const Moment& made) {
        Write(name);
        record_.Add(ClipFolder::Resolved(Path(name)), made);
    }
    void Pass(qint64 ms) {
        now_.wallMs += ms;
        now_.sinceBootMs += ms;
    }
    QStringList Left() const {
        QStringList names =
            QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        names.sort();
        return names;
    }
    // A run of the program, the clock noted in `note`, clips kept a day.
    AgeLimit RunNoting(ClockNote& note) {
        AgeLimit run(
            folder_, &record_, [this] { return now_; }, &note);
        run.Set(dir_.path() + QLatin1Char('/'), 1);
        return run;
    }
    int Deletions() const { return Logged().filter(QStringLiteral("Deleted the clip")).size(); }

    QTemporaryDir dir_;
    testing::StoreLog log_;
    // Noon of a summer's day, 100 days into this boot.
    Moment now_{QDateTime(QDate(2026, 6, 10), QTime(12, 0)).toMSecsSinceEpoch(), "this",
                100 * kDay};
    RecordedClips record_{QString()};
    ClipFolder folder_{[](const QString&) { return std::nullopt; }, &record_};
    AgeLimit ages_{folder_, &record_, [this] { return now_; }};
};

// Past a day go the clips made 3 days ago by the record of an earlier boot
// or by their names; the rest stay: younger, in the future, made in this
// boot an hour ago whatever the wall clock said then, being recorded, and
// anything that is not a clip of the program's. Then the folder is read
// again only once the next clip comes due.
TEST_F(AgeLimitTest, OnlyTheProgramsClipsPastTheLimitGo) {
    const QString earlierBoot = NamedAgo(3 * kDay);
    Recorded(earlierBoot, {now_.wallMs - 3 * kDay, "earlier", 5 * kDay});
    const QString unrecorded = NamedAgo(3 * kDay + 2 * kHour, " (2)");
    Write(unrecorded);
    const QString inUse = NamedAgo(3 * kDay + 5 * kMinute);
    Write(inUse);
    const QString thisBoot = NamedAgo(3 * kDay + kMinute);
    Recorded(thisBoot, {now_.wallMs - 3 * kDay, "this", now_.sinceBootMs - kHour});
    // The last clip of this boot, its wall clock right again.
    const QString hourAgo = NamedAgo(kHour);
    Recorded(hourAgo, {now_.wallMs - kHour, "this", now_.sinceBootMs - kHour});
    const QString tomorrow = NamedAgo(-kDay);
    Write(tomorrow);
    Write(QStringLiteral("notes.txt"));
    ASSERT_TRUE(QDir(dir_.path()).mkdir(NamedAgo(4 * kDay)));
    QStringList kept = {hourAgo, inUse, thisBoot, tomorrow, NamedAgo(4 * kDay), "notes.txt"};
    if (QFile::link(Path("notes.txt"), Path(NamedAgo(5 * kDay))) &&
        QFileInfo(Path(NamedAgo(5 * kDay))).isSymbolicLink())
        kept << NamedAgo(5 * kDay);
    else  // a shortcut file (Windows), no link
        QFile::remove(Path(NamedAgo(5 * kDay)));
    kept.sort();

    const auto wait = ages_.Look({Path(inUse)});
    EXPECT_EQ(Left(), kept);
    EXPECT_EQ(Deletions(), 2) << Logged().join('\n').toStdString();
    EXPECT_EQ(Logged()
                  .filter(QStringLiteral("recorded 3 days 2 hours ago, older than the limit "
                                         "of 1 day"))
                  .size(),
              1);
    EXPECT_FALSE(record_.Find(ClipFolder::Resolved(Path(earlierBoot))));
    // Next due: the clip made in this boot an hour ago, by the boot clock.
    ASSERT_TRUE(wait);
    EXPECT_EQ(*wait, milliseconds(23 * kHour + 1));

    // Until then the folder is not read again.
    const int listings = folder_.Listings();
    Pass(22 * kHour);
    EXPECT_EQ(ages_.Look({Path(inUse)}), milliseconds(kHour + 1));
    EXPECT_EQ(folder_.Listings(), listings);
    Pass(kHour + 1);
    ages_.Look({Path(inUse)});
    kept.removeOne(hourAgo);
    kept.removeOne(thisBoot);
    EXPECT_EQ(Left(), kept);
}

// A clip recorded now comes due a day on: the timer is set for it though
// the folder had nothing to wait for.
TEST_F(AgeLimitTest, ANewClipSetsTheTimer) {
    EXPECT_EQ(ages_.Look({}), std::nullopt);
    Pass(kHour);
    const Moment made = now_;
    Recorded(NamedAgo(0), made);
    ages_.Noted(made);
    EXPECT_EQ(ages_.Look({}), milliseconds(kDay + 1));
    Pass(kDay + 1);
    EXPECT_EQ(ages_.Look({}), std::nullopt);
    EXPECT_EQ(Left(), QStringList());
    ages_.Set(dir_.path(), 0);
    ages_.Noted(now_);
    EXPECT_EQ(ages_.Look({}), std::nullopt);
}

// The clock set 10 years ahead while running: nothing whose age only the
// clock tells goes for the next hour, and the log says why; then the clock
// is trusted. A clip made in this boot is aged by the boot clock throughout.
TEST_F(AgeLimitTest, AClockJumpingAheadHoldsDeletionsByItForAnHour) {
    const QString unrecorded = NamedAgo(2 * kHour);
    Write(unrecorded);
    Recorded(NamedAgo(kHour), {now_.wallMs - kHour, "earlier", kHour});
    const QString thisBoot = NamedAgo(0);
    Recorded(thisBoot, now_);
    // A day and a minute by the boot clock, whatever the wall clock said.
    const QString bootClockOld = NamedAgo(kHour, " (2)");
    Recorded(bootClockOld, {now_.wallMs, "this", now_.sinceBootMs - kDay + 5 * kMinute});
    ASSERT_TRUE(ages_.Look({}));
    const QStringList before = Left();

    now_.wallMs += 3652 * kDay;
    for (int minute = 0; minute <= 10; ++minute, Pass(kMinute)) {
        ages_.Look({});
        EXPECT_EQ(Left().contains(unrecorded), true) << "minute " << minute;
        EXPECT_EQ(Left().size(), before.size() - (minute >= 6 ? 1 : 0)) << "minute " << minute;
    }
    EXPECT_FALSE(Left().contains(bootClockOld));
    EXPECT_EQ(Logged().filter(QStringLiteral("The clock jumped 3652 days ahead")).size(), 1);
    EXPECT_EQ(Logged().filter(QStringLiteral("not deleted by age until it has been steady")).size(),
              1);

    Pass(50 * kMinute);
    ages_.Look({});
    EXPECT_EQ(Left(), QStringList{thisBoot});
    EXPECT_EQ(Logged().filter(QStringLiteral("steady for an hour: clips are deleted")).size(), 1);
}

// Set back, the clock makes older clips look new: held as well, then a clip
// whose time is ahead of the clock counts as new until the clock passes it.
TEST_F(AgeLimitTest, AClockJumpingBackHoldsTooAndAClipInTheFutureIsNew) {
    const QString old = NamedAgo(3 * kDay);
    Write(old);
    const QString hourAgo = NamedAgo(kHour);
    Write(hourAgo);
    ages_.Look({});
    ASSERT_EQ(Left(), QStringList{hourAgo});
    const qint64 named = now_.wallMs - kHour;
    now_.wallMs -= 5 * kDay;
    Pass(2 * kHour);
    ages_.Look({});
    EXPECT_EQ(Logged().filter(QStringLiteral("The clock jumped 5 days back")).size(), 1);
    Pass(2 * kHour);
    const auto wait = ages_.Look({});
    EXPECT_EQ(Left(), QStringList{hourAgo});
    ASSERT_TRUE(wait);
    EXPECT_EQ(*wait, milliseconds(named - now_.wallMs + kDay + 1));
    Pass(wait->count());
    ages_.Look({});
    EXPECT_EQ(Left(), QStringList());
}

// A jump made while the program was not running, in the same boot, shows
// against the last clip it recorded.
TEST_F(AgeLimitTest, AJumpWhileNotRunningShowsAgainstTheLastClipOfThisBoot) {
    const QString unrecorded = NamedAgo(2 * kHour);
    Write(unrecorded);
    Recorded(NamedAgo(kHour), {now_.wallMs - kHour, "this", now_.sinceBootMs - kHour});
    now_.wallMs += 3652 * kDay;
    ages_.Look({});
    EXPECT_TRUE(Left().contains(unrecorded));
    EXPECT_EQ(Logged().filter(QStringLiteral("The clock jumped 3652 days ahead")).size(), 1);
}

// Runs of this boot that recorded nothing still leave a moment to measure a
// jump against: the note of the clock, kept across runs, with a hold that
// an earlier run began.
TEST_F(AgeLimitTest, AJumpAfterARunThatRecordedNothingIsHeld) {
    const QString notePath = Path(QStringLiteral("clock-seen.json"));
    {
        ClockNote note(notePath);
        RunNoting(note).WatchClockNow();
    }
    const QString unrecorded = NamedAgo(2 * kHour);
    Write(unrecorded);
    Pass(kMinute);
    now_.wallMs += kDay + kHour;
    {
        ClockNote note(notePath);
        RunNoting(note).Look({});
    }
    EXPECT_TRUE(Left().contains(unrecorded));
    EXPECT_EQ(Logged().filter(QStringLiteral("The clock jumped 1 day 1 hour ahead")).size(), 1);

    // The run after, within the hour: still held, and the jump not seen twice.
    Pass(30 * kMinute);
    ClockNote note(notePath);
    AgeLimit third = RunNoting(note);
    third.Look({});
    EXPECT_TRUE(Left().contains(unrecorded));
    Pass(31 * kMinute);
    third.Look({});
    EXPECT_FALSE(Left().contains(unrecorded));
    EXPECT_EQ(Logged().filter(QStringLiteral("The clock jumped")).size(), 1);
}

}  // namespace
}  // namespace camwarden::store
