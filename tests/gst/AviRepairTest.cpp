#include <gtest/gtest.h>
#include <QtEndian>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>

#include "AviProbe.h"
#include "GstAvi.h"
#include "platform/gst/AviRepair.h"

namespace camwarden {
namespace {

using capgst::AviRepair;
using testing::MjpegClip;
using testing::MuxMjpegAvi;

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// In place: a file truncated to nothing is flushed on close by the file system.
bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.write(bytes) == bytes.size() && f.resize(bytes.size());
}

AviRepair Repair(QFile&& f) {
    return f.open(QIODevice::ReadWrite | QIODevice::Unbuffered) ? capgst::RepairAvi(f)
                                                                : AviRepair{};
}

AviRepair Repair(const QString& path) {
    return Repair(QFile(path));
}

uint32_t U32At(const QByteArray& b, qsizetype at) {
    uint32_t v = 0;
    for (qsizetype i = 3; i >= 0; --i) v = v << 8 | uchar(b.at(at + i));
    return v;
}

// The frame counts of the main header, the stream header and the OpenDML header.
std::array<uint32_t, 3> HeaderCounts(const QByteArray& head) {
    return {U32At(head, head.indexOf("avih") + 24), U32At(head, head.indexOf("strh") + 40),
            U32At(head, head.indexOf("dmlh") + 8)};
}

// The muxer's bit rate estimate is no count, and it starts with another.
QByteArray WithoutBitRate(QByteArray avi) {
    return avi.replace(avi.indexOf("avih") + 12, 4, QByteArray(4, '\0'));
}

// Where each frame chunk of a file of one segment starts.
std::vector<qsizetype> Chunks(const QByteArray& avi) {
    std::vector<qsizetype> out;
    for (qsizetype at = avi.indexOf("movi") + 4; avi.mid(at, 2) == "00";) {
        out.push_back(at);
        at += 8 + U32At(avi, at + 4) + (U32At(avi, at + 4) & 1);
    }
    return out;
}

class AviRepairTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        clip_.jpeg = testing::EncodeJpeg(160, 120, "smpte", 85);
        ASSERT_FALSE(clip_.jpeg.isEmpty());
        // Odd-sized, so that every chunk carries a pad byte.
        if (clip_.jpeg.size() % 2 == 0) clip_.jpeg.append('\0');
        ASSERT_TRUE(MuxMjpegAvi(path_, clip_, false));
        crashed_ = ReadAll(path_);
        ASSERT_TRUE(MuxMjpegAvi(path_, clip_, true));
        finished_ = ReadAll(path_);
    }

    QTemporaryDir dir_;
    const QString path_ = dir_.filePath(QStringLiteral("clip.avi"));
    MjpegClip clip_{{}, 160, 120, 30, 20};
    QByteArray crashed_;   // as a killed program leaves it
    QByteArray finished_;  // as the muxer finishes it
};

TEST_F(AviRepairTest, ACrashImageIsFinishedAsTheMuxerWouldHaveFinishedIt) {
    ASSERT_NE(WithoutBitRate(crashed_), WithoutBitRate(finished_));
    ASSERT_TRUE(WriteAll(path_, crashed_));
    const AviRepair r = Repair(path_);
    EXPECT_TRUE(r.ok && r.changed) << r.error.toStdString();
    EXPECT_EQ(r.frames, 20u);
    EXPECT_EQ(WithoutBitRate(ReadAll(path_)), WithoutBitRate(finished_));

    ASSERT_TRUE(WriteAll(path_, finished_));
    const AviRepair again = Repair(path_);
    EXPECT_TRUE(again.ok && !again.changed);
    EXPECT_EQ(again.frames, 20u);
    EXPECT_EQ(ReadAll(path_), finished_);
}

// A disk with no room left past the file's end.
class FullDisk : public QFile {
public:
    explicit FullDisk(const QString& path) : QFile(path), end_(QFileInfo(path).size()) {}

protected:
    qint64 writeData(const char* data, qint64 len) override {
        if (pos() + len <= end_) return QFile::writeData(data, len);
        setErrorString(QStringLiteral("No space left on device"));
        return -1;
    }

private:
    qint64 end_;
};

TEST_F(AviRepairTest, WithoutRoomForTheIndexFramesAreGivenUpFromTheEndUntilItFits) {
    const std::vector<qsizetype> chunks = Chunks(crashed_);
    ASSERT_EQ(chunks.size(), 20u);
    // Cut 100 bytes into the last frame: too little room for an index of 19.
    ASSERT_TRUE(WriteAll(path_, crashed_.left(chunks[19] + 100)));
    const AviRepair r = Repair(FullDisk(path_));
    EXPECT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.frames, 18u);
    EXPECT_EQ(QFileInfo(path_).size(), chunks[18] + 8 + qsizetype(18) * 16);
    const testing::AviInfo info = testing::ProbeAvi(path_);
    EXPECT_EQ(info.decodedFrames, 18);
    EXPECT_EQ(info.headerFrames, 18);
    EXPECT_EQ(info.errors, "");

    // Not even an empty index fits: the file stays as it was.
    const QByteArray headerOnly = crashed_.left(chunks[0] + 4);
    ASSERT_TRUE(WriteAll(path_, headerOnly));
    const AviRepair none = Repair(FullDisk(path_));
    EXPECT_FALSE(none.ok || none.changed);
    EXPECT_EQ(ReadAll(path_), headerOnly);
}

// Past 1 GiB the muxer goes on in a second RIFF segment: every whole frame of
// both is kept, and ffprobe and GStreamer read them all.
TEST(AviRepairLarge, EveryWholeFrameOfEverySegmentIsKept) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MjpegClip clip{testing::EncodeJpeg(1920, 1080, "snow", 100), 1920, 1080, 30, 0};
    ASSERT_FALSE(clip.jpeg.isEmpty());
    if (clip.jpeg.size() % 2 == 0) clip.jpeg.append('\0');
    const qint64 frame = clip.jpeg.size();
    clip.frames = int(1'250'000'000 / frame) + 1;
    const QString path = dir.filePath(QStringLiteral("large.avi"));

    // What the muxer writes when it finishes a file of two segments...
    ASSERT_TRUE(MuxMjpegAvi(path, clip, true));
    const QVector<qint64> data = testing::CountAviPackets(path, true).positions;
    ASSERT_EQ(data.size(), clip.frames);
    QFile f(path);
    const auto read = [&](qint64 at, qint64 n) {
        QByteArray b;
        if (f.open(QIODevice::ReadOnly) && f.seek(at)) b = f.read(n);
        f.close();
        return b;
    };
    const qint64 size = f.size();
    const QByteArray head = read(0, data[0] - 8);
    const auto first = int(HeaderCounts(head)[0]);
    ASSERT_LT(first, clip.frames);
    const qint64 avix = data[first] - 8 - 24;
    const qint64 idx1 = avix - 8 - 16 * qint64(first);
    const qint64 tailAt = data.last() + frame + 1;
    const QByteArray avixHead = read(avix, 24);
    const QByteArray tail = read(tailAt, size);
    ASSERT_TRUE(avixHead.startsWith("RIFF") && tail.startsWith("ix00"));
    const QDateTime modified = QFileInfo(path).lastModified();
    const AviRepair untouched = Repair(path);
    EXPECT_TRUE(untouched.ok && !untouched.changed) << untouched.error.toStdString();
    EXPECT_EQ(QFileInfo(path).lastModified(), modified);

    // ...is what the repair makes of the file the muxer was killed writing.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(MuxMjpegAvi(path, clip, false));
    const AviRepair crashed = Repair(path);
    EXPECT_TRUE(crashed.ok) << crashed.error.toStdString();
    EXPECT_EQ(crashed.frames, uint64_t(clip.frames));
    EXPECT_EQ(WithoutBitRate(read(0, head.size())), WithoutBitRate(head));
    EXPECT_TRUE(read(avix, 24) == avixHead && read(tailAt, size) == tail);
    EXPECT_EQ(QFileInfo(path).size(), size);

    // Then cut ever shorter, each time after the last repair.
    struct Cut {
        const char* where;
        qint64 at;
        int frames;
    };
    const int last = clip.frames - 1;
    for (const Cut& cut :
         {Cut{"mid-frame, second segment", data[last - 4] + frame / 2, last - 4},
          Cut{"in a chunk header, second segment", data[first + 10] - 3, first + 10},
          Cut{"in the second segment's header", avix + 10, first},
          Cut{"in the first segment's idx1", idx1 + 100, first}}) {
        SCOPED_TRACE(cut.where);
        ASSERT_TRUE(QFile::resize(path, cut.at));
        const AviRepair r = Repair(path);
        EXPECT_TRUE(r.ok && r.changed) << r.error.toStdString();
        EXPECT_EQ(r.frames, uint64_t(cut.frames));
        if (cut.frames == first) {
            EXPECT_EQ(QFileInfo(path).size(), avix);
        }
        const testing::AviPackets ffprobe = testing::CountAviPackets(path);
        EXPECT_EQ(ffprobe.packets, cut.frames);
        EXPECT_EQ(ffprobe.headerFrames, cut.frames);
        const testing::GstAviRead gst = testing::ReadAviWithGStreamer(path);
        EXPECT_EQ(gst.buffers, cut.frames);
        EXPECT_NEAR(gst.duration, cut.frames / 30.0, 1.0 / 30);
        const std::array<uint32_t, 3> counts = HeaderCounts(read(0, head.size()));
        EXPECT_EQ(counts, (std::array<uint32_t, 3>{uint32_t(std::min(cut.frames, first)),
                                                   uint32_t(cut.frames), uint32_t(cut.frames)}));
    }
}

}  // namespace
}  // namespace camwarden
