#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "platform/gst/ClipFolder.h"

namespace camwarden::capgst {
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
    ASSERT_TRUE(QFile::link(Path("elsewhere"), Path("SS 2020-01-01 00-00-00.avi")));
    ASSERT_TRUE(QDir(dir_.path()).mkdir("SS 2020-01-01 00-00-01.avi"));
    const QStringList others = {"SS 2020-01-01 00-00-00.avi", "SS 2020-01-01 00-00-01.avi",
                                "elsewhere", "notes.txt"};

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

}  // namespace
}  // namespace camwarden::capgst
