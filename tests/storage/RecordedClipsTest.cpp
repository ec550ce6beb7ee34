#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <mutex>

#include "storage/RecordedClips.h"
#include "support/StoreLog.h"

namespace camwarden::store {
namespace {

class RecordedClipsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    static qsizetype LoggedCount(const QString& text = QString()) {
        return testing::StoreLog::Lines(text).size();
    }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    QString Clip(int i) const {
        return Path(QStringLiteral("SS 2026-01-05 09-00-%1.avi").arg(i, 2, 10, QLatin1Char('0')));
    }
    // A line as the program writes it, the number as given.
    QByteArray Noted(int clip, const char* sequence) const {
        return R"({"boot":"b","file":")" + Clip(clip).toUtf8() + R"(","seq":)" + sequence +
               R"(,"up":5,"wall":1000})";
    }
    void Store(const QByteArray& bytes) const {
        QFile f(record_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    // The clips noted, oldest first, by their numbers.
    std::vector<int> Order(const RecordedClips& clips) const {
        std::vector<int> order;
        for (const RecordedClip& c : clips.All())
            order.push_back(QStringView(c.file).mid(c.file.size() - 6, 2).toInt());
        return order;
    }

    QTemporaryDir dir_;
    QString record_ = dir_.filePath(QStringLiteral("recorded-clips.jsonl"));
    testing::StoreLog log_;
};

// A power cut or a crash tears the last line (a fragment, a line without its
// newline, blocks of NULs): only whole lines are dated clips, a torn line
// whose file made it through keeps that clip in its place, the newest, with
// no time, and the clip noted next is found after a restart, after those
// noted before it. Earlier versions glued the next line onto a torn one.
TEST_F(RecordedClipsTest, TornLinesAreNoClipsAndTheNextLineIsKept) {
    const QByteArray nuls(600, '\0');
    const auto upToSeq = [this](int clip) {
        const QByteArray line = Noted(clip, "3");
        return line.left(line.indexOf(",\"seq\"") + 4);
    };
    const struct {
        QByteArray bytes;
        std::vector<int> kept;
        bool lastDated;
    } cases[] = {
        {Noted(1, "1") + '\n' + Noted(2, "2") + '\n' + Noted(3, "3").left(40), {1, 2}, true},
        {Noted(1, "1") + '\n' + Noted(2, "2") + '\n' + upToSeq(3), {1, 2, 3}, false},
        {Noted(1, "1") + '\n' + Noted(2, "2") + '\n' + Noted(3, "3"), {1, 2, 3}, false},
        {Noted(1, "1") + '\n' + Noted(2, "2").left(30) + nuls + Noted(3, "3") + '\n' + nuls,
         {1, 3},
         true},
        {Noted(1, "1") + '\n' + Noted(2, "2") + nuls, {1, 2}, false},
        {Noted(1, "1") + '\n' + upToSeq(2) + Noted(3, "2") + '\n', {1, 2, 3}, true},
    };
    for (const auto& c : cases) {
        Store(c.bytes);
        {
            RecordedClips clips(record_);
            EXPECT_EQ(Order(clips), c.kept) << c.bytes.toStdString();
            // A torn line's clip is dated by its name, never by a guess.
            EXPECT_EQ(
                clips.StartedIn(dir_.path(), QFileInfo(Clip(c.kept.back())).fileName()).has_value(),
                c.lastDated);
            clips.Add(Clip(9));
        }
        std::vector<int> expected = c.kept;
        expected.push_back(9);
        const RecordedClips again(record_);
        EXPECT_EQ(Order(again), expected) << c.bytes.toStdString();
    }
}

// Numbers stored past the top of their range (read back negative), equal or
// going back: the lines' order holds, told in one line, and the clips noted
// next come after them, also after a restart.
TEST_F(RecordedClipsTest, NumbersThatCannotBeTrustedGiveWayToTheLinesOrder) {
    const std::vector<std::vector<const char*>> records = {
        {"9223372036854775806", "9223372036854775807", "-9223372036854775808", "-3"},
        {"18446744073709551615", "9007199254740993", "12"},
        {"5", "5", "5"},
        {"10", "3", "7"},
    };
    for (const auto& numbers : records) {
        QByteArray bytes;
        std::vector<int> order;
        for (size_t i = 0; i < numbers.size(); ++i) {
            bytes += Noted(int(i) + 1, numbers[i]) + '\n';
            order.push_back(int(i) + 1);
        }
        Store(bytes);
        testing::StoreLog::Clear();
        {
            RecordedClips clips(record_);
            EXPECT_EQ(Order(clips), order) << numbers[0];
            EXPECT_GT(clips.Add(Clip(9)).sequence, clips.All().at(numbers.size() - 1).sequence);
        }
        EXPECT_EQ(LoggedCount(), 1) << numbers[0];
        order.push_back(9);
        const RecordedClips again(record_);
        EXPECT_EQ(Order(again), order) << numbers[0];
        EXPECT_EQ(LoggedCount(), 1) << "written as trusted numbers";
    }

    // At the top of the range the clips are numbered anew, in their order.
    Store(Noted(1, "9007199254740991") + '\n' + Noted(2, "9007199254740992") + '\n');
    RecordedClips clips(record_);
    const RecordedClip next = clips.Add(Clip(3));
    EXPECT_EQ(Order(clips), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(next.sequence, 3u);
}

// A state folder that cannot be written: noting clips costs one rewrite in
// all and one line of log, and once it can be written again, every clip
// noted meanwhile is in the file.
TEST_F(RecordedClipsTest, AFolderThatCannotBeWrittenCostsNoRewritePerClip) {
    QFile blocker(Path("state"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString record = Path("state/recorded-clips.jsonl");
    std::vector<int> order;
    {
        RecordedClips clips(record);
        for (int i = 0; i < 60; ++i) {
            clips.Add(Clip(i));
            order.push_back(i);
        }
        clips.Flush();
        EXPECT_EQ(clips.Rewrites(), 1);
        EXPECT_EQ(LoggedCount(QStringLiteral("Cannot note")), 1);

        ASSERT_TRUE(QFile::remove(Path("state")) && QDir(dir_.path()).mkdir("state"));
        clips.Add(Clip(60));
        order.push_back(60);
        clips.Flush();
        EXPECT_EQ(clips.Rewrites(), 2);
    }
    const RecordedClips again(record);
    EXPECT_EQ(Order(again), order);
}

// A rewrite killed midway left its copy beside the record: it goes at the
// next start, and nothing else there does.
TEST_F(RecordedClipsTest, ACopyAKilledRewriteLeftGoesAtTheNextStart) {
    Store(Noted(1, "1") + '\n');
#ifdef Q_OS_WIN
    const QString left = QStringLiteral("recorded-clips.jsonl.4242.new");
    QStringList kept = {"recorded-clips.jsonl.new", "recorded-clips.jsonl.42x.new"};
#else
    const QString left = QStringLiteral("recorded-clips.jsonl.aZ09bY");
    QStringList kept = {"recorded-clips.jsonl.aZ09b", "recorded-clips.jsonl.aZ09bYc",
                        "recorded-clips.jsonl.aZ-9bY"};
#endif
    kept << "recorded-clips.jsonl"
         << "unfinished-clips.json.aZ09bY"
         << "notes.txt";
    for (const QString& name : kept + QStringList{left}) {
        QFile f(Path(name));
        if (!f.exists()) {
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }
    ASSERT_TRUE(QDir(dir_.path()).mkdir("recorded-clips.jsonl.Qq1qq1"));
    kept << "recorded-clips.jsonl.Qq1qq1";
    // A link, or on Windows the shortcut file Qt makes for one: either stays.
    if (QFile::link(Path("notes.txt"), Path("recorded-clips.jsonl.Zz9zz9")))
        kept << "recorded-clips.jsonl.Zz9zz9";

    const RecordedClips clips(record_);
    EXPECT_EQ(Order(clips), std::vector<int>{1});
    QStringList there =
        QDir(dir_.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
    there.sort();
    kept.sort();
    EXPECT_EQ(there.join(QLatin1Char('|')).toStdString(),
              kept.join(QLatin1Char('|')).toStdString());
}

}  // namespace
}  // namespace camwarden::store
