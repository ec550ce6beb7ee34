#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QThread>

#include "storage/ClipFolder.h"
#include "storage/RecordedClips.h"

namespace camwarden::store {
namespace {

class ClipFolderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString Path(const QString& name) const { return dir_.filePath(name); }

    void Write(const QString& name, int bytes) {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(bytes, 'c'));
    }

    std::string Left() const {
        return Sorted(
            QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System));
    }

    static std::string Sorted(QStringList names) {
        names.sort();
        return names.join(QLatin1Char('|')).toStdString();
    }

    QTemporaryDir dir_;
    std::optional<int64_t> free_;  // none: the disk has room
    ClipFolder folder_{[this](const QString&) { return free_; }};
};

TEST_F(ClipFolderTest, OnlyTheProgramsOwnClipNamesCount) {
    for (const char* name : {"SS 2026-01-05 09-03-07.avi", "SS 2026-01-05 09-03-07 (2).avi",
                             "SS 2026-01-05 09-03-07 (999).avi"})
        EXPECT_TRUE(ClipFolder::IsClipName(QString::fromUtf8(name))) << name;
    for (const char* name :
         {"SS 2026-01-05 09-03-07.AVI", "SS 2026-01-05 09-03-07 (0).avi",
          "SS 2026-01-05 09-03-07 (1x).avi", "SS 2026-01-05 09-03-07(2).avi",
          "SS 2026-01-05 09-03-7.avi", "SS 2026-01-05 09:03:07.avi", "SS 2026-01-05 09-03-07.avi~",
          "xSS 2026-01-05 09-03-07.avi", "SS 2026-01-05 09-03-07 copy.avi", "SS .avi", ""})
        EXPECT_FALSE(ClipFolder::IsClipName(QString::fromUtf8(name))) << name;
}

// Oldest by the time in the name, a taken name after its first; what is
// being recorded, links, folders and other files are never touched.
TEST_F(ClipFolderTest, TheOldestClipsGoUntilTheNextFitsAndNothingElseEver) {
    Write("SS 2026-01-05 09-00-00.avi", 100);  // being finished
    Write("SS 2026-01-05 09-00-10 (2).avi", 100);
    Write("SS 2026-01-05 09-00-10.avi", 100);
    Write("SS 2026-01-05 09-00-20.avi", 100);
    Write("SS 2026-01-05 09-00-30.avi", 100);
    Write("notes.txt", 5000);
    Write("elsewhere", 100);
    ASSERT_TRUE(QDir(dir_.path()).mkdir("SS 2020-01-01 00-00-01.avi"));
    QStringList others = {"SS 2020-01-01 00-00-01.avi", "elsewhere", "notes.txt"};
    // Where QFile makes shortcut files instead of links (Windows) there is no link to plant.
    if (QFile::link(Path("elsewhere"), Path("SS 2020-01-01 00-00-00.avi")) &&
        QFileInfo(Path("SS 2020-01-01 00-00-00.avi")).isSymbolicLink())
        others << "SS 2020-01-01 00-00-00.avi";
    else
        QFile::remove(Path("SS 2020-01-01 00-00-00.avi"));

    QString why;
    // 500 bytes of clips, a limit of 650: 50 must go for a clip of 200.
    ASSERT_TRUE(
        folder_.MakeRoom(dir_.path(), 650, 200, {Path("SS 2026-01-05 09-00-00.avi")}, &why));
    EXPECT_EQ(
        Left(),
        Sorted(others + QStringList{"SS 2026-01-05 09-00-00.avi", "SS 2026-01-05 09-00-10 (2).avi",
                                    "SS 2026-01-05 09-00-20.avi", "SS 2026-01-05 09-00-30.avi"}));
    EXPECT_EQ(folder_.ListedBytes(), 400);

    // The disk too: with 50 bytes free, 150 more must go though the limit is met.
    free_ = 50;
    ASSERT_TRUE(folder_.MakeRoom(dir_.path(), 10000, 200, {}, &why));
    const std::string newest =
        Sorted(others + QStringList{"SS 2026-01-05 09-00-20.avi", "SS 2026-01-05 09-00-30.avi"});
    EXPECT_EQ(Left(), newest);

    // A disk that other files fill: the clips are not deleted in vain.
    free_ = 0;
    EXPECT_FALSE(folder_.MakeRoom(dir_.path(), 10000, 300, {}, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(Left(), newest);
    EXPECT_EQ(QFile(Path("elsewhere")).size(), 100);
}

// Listed once; clips finished by the program are added without listing
// again, while a change made by anyone else is noticed.
TEST_F(ClipFolderTest, TheFolderIsListedAgainOnlyWhenChangedUnderTheProgram) {
    Write("SS 2026-01-05 09-00-00.avi", 100);
    QString why;
    ASSERT_TRUE(folder_.MakeRoom(dir_.path(), 1000, 10, {}, &why));
    EXPECT_EQ(folder_.Listings(), 1);
    for (int i = 1; i <= 5; ++i) {
        const QString name = QStringLiteral("SS 2026-01-05 09-00-%1.avi").arg(i * 10);
        Write(name, 100);
        folder_.Settled(Path(name));
        ASSERT_TRUE(folder_.MakeRoom(dir_.path(), 1000, 10, {}, &why));
    }
    EXPECT_EQ(folder_.Listings(), 1);
    EXPECT_EQ(folder_.ListedBytes(), 600);
    // Past a tick of the file system's clock, so the change shows.
    QThread::msleep(30);
    ASSERT_TRUE(QFile::remove(Path("SS 2026-01-05 09-00-00.avi")));
    ASSERT_TRUE(folder_.MakeRoom(dir_.path(), 1000, 10, {}, &why));
    EXPECT_EQ(folder_.Listings(), 2);
    EXPECT_EQ(folder_.ListedBytes(), 500);
    // Another folder is listed for itself.
    QTemporaryDir other;
    ASSERT_TRUE(folder_.MakeRoom(other.path(), 1000, 10, {}, &why));
    EXPECT_EQ(folder_.ListedBytes(), 0);
}

// Recorded longest ago goes first, as the program recorded them across a
// restart and a clock set back 25 years; clips it has no record of go before
// any it has, by their names.
TEST_F(ClipFolderTest, TheClipsRecordedLongestAgoGoFirstWhateverTheClockSays) {
    const QString record = Path("record/recorded-clips.jsonl");
    const QStringList recorded = {"SS 2026-12-08 10-00-00.avi", "SS 2026-12-08 10-00-10.avi",
                                  "SS 2001-12-08 10-00-20.avi", "SS 2001-12-08 10-00-30.avi"};
    {
        RecordedClips earlier(record);
        for (const QString& name : recorded) {
            Write(name, 100);
            earlier.Add(ClipFolder::Resolved(Path(name)));
        }
    }
    Write("SS 2030-01-01 00-00-00.avi", 100);  // recorded without a record
    // A power cut tore the record's last line.
    QFile torn(record);
    ASSERT_TRUE(torn.open(QIODevice::Append));
    torn.write(R"({"seq":99,"file":")");
    torn.close();

    RecordedClips after(record);
    ClipFolder folder([](const QString&) { return std::nullopt; }, &after);
    QString why;
    ASSERT_TRUE(folder.MakeRoom(dir_.path(), 350, 100, {}, &why));
    EXPECT_EQ(Left(),
              Sorted({"SS 2001-12-08 10-00-20.avi", "SS 2001-12-08 10-00-30.avi", "record"}));
    const std::vector<RecordedClip> kept = after.All();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].file, ClipFolder::Resolved(Path(recorded[2])));
    EXPECT_LT(kept[0].sequence, kept[1].sequence);
    // The next is recorded after them, whatever its name says.
    EXPECT_GT(after.Add(ClipFolder::Resolved(Path("SS 1999-01-01 00-00-00.avi"))).sequence,
              kept[1].sequence);
}

// A record that gives two clips one number (an earlier run's fault) hides
// neither from the limit: both are counted, and the one noted first goes first.
TEST_F(ClipFolderTest, ClipsARecordNumbersAlikeAreEachCounted) {
    const QString record = Path("recorded-clips.jsonl");
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (const char* name : {"SS 2026-01-05 09-00-20.avi", "SS 2026-01-05 09-00-10.avi",
                             "SS 2026-01-05 09-00-00.avi"}) {
        Write(QString::fromUtf8(name), 100);
        f.write(R"({"boot":"b","file":")" + ClipFolder::Resolved(Path(name)).toUtf8() +
                R"(","seq":7,"up":5,"wall":1000})" + '\n');
    }
    f.close();
    RecordedClips recorded(record);
    ClipFolder folder([](const QString&) { return std::nullopt; }, &recorded);
    ASSERT_TRUE(folder.Prepare(dir_.path()));
    EXPECT_EQ(folder.ListedClips(), 3u);
    EXPECT_EQ(folder.ListedBytes(), 300);
    QString why;
    ASSERT_TRUE(folder.MakeRoom(dir_.path(), 250, 50, {}, &why));
    recorded.Flush();
    EXPECT_EQ(Left(), Sorted({"SS 2026-01-05 09-00-00.avi", "SS 2026-01-05 09-00-10.avi",
                              "recorded-clips.jsonl"}));
}

// The folder is the one the system resolves a clip's path to: with a link
// and ".." in the folder's text, the clips go where the link points, and
// that folder is the one kept within the limit.
TEST_F(ClipFolderTest, TheFolderIsTheOneTheSystemResolvesThePathTo) {
    ASSERT_TRUE(QDir(dir_.path()).mkpath("real/sub") && QDir(dir_.path()).mkpath("real/clips") &&
                QDir(dir_.path()).mkpath("a/clips"));
    ASSERT_TRUE(QFile::link(Path("real/sub"), Path("a/link")));
    Write("real/clips/SS 2026-01-05 09-00-00.avi", 100);
    Write("real/clips/SS 2026-01-05 09-00-10.avi", 100);
    Write("a/clips/SS 2026-01-05 08-00-00.avi", 100);  // not where the clips go
    QString why;
    ASSERT_TRUE(folder_.MakeRoom(Path("a/link/../clips"), 150, 10, {}, &why));
    EXPECT_FALSE(QFile::exists(Path("real/clips/SS 2026-01-05 09-00-00.avi")));
    EXPECT_TRUE(QFile::exists(Path("real/clips/SS 2026-01-05 09-00-10.avi")));
    EXPECT_TRUE(QFile::exists(Path("a/clips/SS 2026-01-05 08-00-00.avi")));
}

// The record forgets clips whose files are gone, stays within twice what it
// holds, and is never written through a link put at its name.
TEST_F(ClipFolderTest, TheRecordStaysBoundedAndIsNeverWrittenThroughALink) {
    const QString record = Path("recorded-clips.jsonl");
    Write("notes.txt", 9);
    ASSERT_TRUE(QFile::link(Path("notes.txt"), record));
    RecordedClips clips(record);
    for (int i = 2; i < 1200; ++i) {
        const QString name = QStringLiteral("SS 2026-01-05 09-00-00 (%1).avi").arg(i);
        clips.Add(Path(name));
        if (i < 1190) clips.Forget(Path(name));
    }
    clips.Flush();
    EXPECT_EQ(QFile(Path("notes.txt")).size(), 9);
    EXPECT_FALSE(QFileInfo(record).isSymLink());
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_LE(f.readAll().count('\n'), 2 * 10 + 1024 + 1);
    // After a restart, what was forgotten since the record was last rewritten goes again.
    Write("SS 2026-01-05 09-00-00 (1195).avi", 100);
    RecordedClips again(record);
    again.ForgetVanished();
    ASSERT_EQ(again.All().size(), 1u);
    EXPECT_EQ(again.All()[0].file, Path("SS 2026-01-05 09-00-00 (1195).avi"));
}

// Time between two moments: by the boot clock within one boot, whatever the
// wall clock did; across boots by the wall clock, unknown if it went back.
TEST(Moments, AreComparedByTheClockNoOneSets) {
    const Moment then{2'000'000'000'000, "a", 1'000};
    EXPECT_EQ(TimeBetween(then, {1'000'000'000'000, "a", 61'000}), std::chrono::minutes(1));
    EXPECT_EQ(TimeBetween(then, {2'000'000'060'000, "b", 5}), std::chrono::minutes(1));
    EXPECT_EQ(TimeBetween(then, {1'000'000'000'000, "b", 5}), std::nullopt);
}

}  // namespace
}  // namespace camwarden::store
