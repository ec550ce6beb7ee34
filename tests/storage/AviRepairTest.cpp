#include <gtest/gtest.h>
#include <QtEndian>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <random>

#include "storage/AviRepair.h"
#include "tests/gst/AviProbe.h"
#include "tests/gst/GstAvi.h"

namespace camwarden {
namespace {

using store::AviRepair;
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
    return f.open(QIODevice::ReadWrite | QIODevice::Unbuffered) ? store::RepairAvi(f) : AviRepair{};
}

AviRepair Repair(const QString& path) {
    return Repair(QFile(path));
}

uint32_t U32At(const QByteArray& b, qsizetype at) {
    uint32_t v = 0;
    for (qsizetype i = 3; i >= 0; --i) v = v << 8 | uchar(b.at(at + i));
    return v;
}

QByteArray Le32(uint32_t v) {
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
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

// A crash image's frames in two segments, as the muxer lays out a file past
// 1 GiB: the first closed by its standard index and idx1, the second open.
QByteArray TwoSegments(const QByteArray& avi, uint32_t first) {
    const std::vector<qsizetype> chunks = Chunks(avi);
    const auto chunk = [&](size_t i) {
        return avi.mid(chunks[i], 8 + U32At(avi, chunks[i] + 4) + (U32At(avi, chunks[i] + 4) & 1));
    };
    QByteArray out = avi.left(chunks[0]);
    QByteArray ix = "ix00" + Le32(24 + 8 * first) + QByteArray::fromHex("02000001") + Le32(first) +
                    "00db" + QByteArray(12, '\0');
    QByteArray idx1 = "idx1" + Le32(16 * first);
    for (uint32_t i = 0; i < first; ++i) {
        ix += Le32(chunks[i] + 8) + Le32(U32At(avi, chunks[i] + 4));
        idx1 += "00db" + Le32(0x12) + Le32(chunks[i]) + Le32(U32At(avi, chunks[i] + 4));
        out += chunk(i);
    }
    out += ix + idx1 + "RIFF" + Le32(12) + "AVIXLIST" + Le32(0) + "movi";
    for (size_t i = first; i < chunks.size(); ++i) out += chunk(i);
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

// What a repair wrote: bytes at a place, or the file's new length.
struct Change {
    qint64 pos = 0;
    QByteArray bytes;
    qint64 resizeTo = -1;
};

// A disk with no room left past the file's end; it notes every change made.
class FullDisk : public QFile {
public:
    explicit FullDisk(const QString& path, std::vector<Change>* changes = nullptr)
        : QFile(path), end_(QFileInfo(path).size()), changes_(changes) {}

    bool resize(qint64 size) override {
        if (changes_) changes_->push_back({0, {}, size});
        return QFile::resize(size);
    }

protected:
    qint64 writeData(const char* data, qint64 len) override {
        if (pos() + len > end_) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        if (changes_) changes_->push_back({pos(), QByteArray(data, len)});
        return QFile::writeData(data, len);
    }

private:
    qint64 end_;
    std::vector<Change>* changes_;
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

// A repair on a full disk cut off at any moment, between two of its writes
// or halfway through one (a kill, a power cut): the next repair, with room
// now, finishes it with every frame the first would have kept, or more.
TEST_F(AviRepairTest, ARepairCutOffAtAnyMomentIsFinishedByTheNext) {
    const std::vector<qsizetype> chunks = Chunks(crashed_);
    const QByteArray cut = crashed_.left(chunks[19] + 100);
    ASSERT_TRUE(WriteAll(path_, cut));
    std::vector<Change> changes;
    const AviRepair whole = Repair(FullDisk(path_, &changes));
    ASSERT_TRUE(whole.ok) << whole.error.toStdString();
    ASSERT_GE(changes.size(), 3u);
    for (size_t n = 0; n < changes.size(); ++n) {
        for (const bool halfway : {false, true}) {
            SCOPED_TRACE(QStringLiteral("cut off at change %1%2")
                             .arg(n)
                             .arg(halfway ? ", halfway" : "")
                             .toStdString());
            if (halfway && changes[n].resizeTo >= 0) continue;
            QByteArray image = cut;
            for (size_t i = 0; i <= n; ++i) {
                const Change& c = changes[i];
                if (i == n && !halfway) break;
                if (c.resizeTo >= 0) {
                    image.resize(c.resizeTo, '\0');
                    continue;
                }
                const QByteArray bytes = i == n ? c.bytes.left(c.bytes.size() / 2) : c.bytes;
                if (image.size() < c.pos + bytes.size()) image.resize(c.pos + bytes.size(), '\0');
                image.replace(c.pos, bytes.size(), bytes);
            }
            ASSERT_TRUE(WriteAll(path_, image));
            const AviRepair next = Repair(path_);
            ASSERT_TRUE(next.ok) << next.error.toStdString();
            EXPECT_GE(next.frames, whole.frames);
            const testing::AviInfo info = testing::ProbeAvi(path_);
            EXPECT_EQ(info.decodedFrames, int(next.frames));
            EXPECT_EQ(info.headerFrames, int(next.frames));
            EXPECT_EQ(info.errors, "");
        }
    }
}

// Every frame of a file, in every segment: where its chunk starts and where
// its data ends.
std::vector<std::pair<qsizetype, qsizetype>> Frames(const QByteArray& avi) {
    std::vector<std::pair<qsizetype, qsizetype>> out;
    for (qsizetype at = avi.indexOf("movi") + 4; at + 8 <= avi.size();) {
        if (avi.mid(at, 4) == "RIFF") {
            at += 24;
            continue;
        }
        const uint32_t size = U32At(avi, at + 4);
        if (avi.mid(at, 3) == "00d") out.emplace_back(at, at + 8 + size);
        at += 8 + size + (size & 1);
    }
    return out;
}

// What a power cut leaves, a page zeroed in the middle, the last 8 KiB
// zeroed: the stretch is passed over and every whole frame around it kept,
// as a count that knows where the frames were says, and the file plays.
TEST_F(AviRepairTest, AZeroedStretchIsPassedOverAndEveryWholeFrameKept) {
    const auto frames = Frames(crashed_);
    ASSERT_EQ(frames.size(), 20u);
    const qsizetype header = frames[10].first;
    for (const auto& [from, to] : {std::pair{header - header % 4096, header - header % 4096 + 4096},
                                   std::pair{crashed_.size() - 8192, crashed_.size()}}) {
        QByteArray damaged = crashed_;
        damaged.replace(from, to - from, QByteArray(to - from, '\0'));
        const auto kept = std::count_if(frames.begin(), frames.end(), [&](const auto& f) {
            return f.second <= from || f.first >= to;
        });
        ASSERT_TRUE(WriteAll(path_, damaged));
        const AviRepair r = Repair(path_);
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(r.frames, uint64_t(kept)) << from;
        const testing::AviInfo info = testing::ProbeAvi(path_);
        EXPECT_EQ(info.decodedFrames, kept);
        EXPECT_EQ(info.headerFrames, kept);
        EXPECT_EQ(info.errors, "");
        EXPECT_EQ(testing::ReadAviWithGStreamer(path_).buffers, kept);
        const AviRepair again = Repair(path_);
        EXPECT_TRUE(again.ok && !again.changed && again.frames == r.frames);
    }
}

// Damage where the muxer's structure lies: chunk ids and sizes, lists inside
// lists, header fields, and where the file ends.
class Mutator {
public:
    Mutator(const QByteArray& sample, uint32_t seed) : rng_(seed) {
        for (const char* id : {"RIFF", "LIST", "AVIX", "hdrl", "avih", "strl", "strh", "indx",
                               "JUNK", "odml", "dmlh", "movi", "00db", "01wb", "ix00", "idx1"})
            for (qsizetype at = sample.indexOf(id); at >= 0; at = sample.indexOf(id, at + 1))
                marks_.push_back(at);
    }

    QByteArray Damage(QByteArray b) {
        for (qsizetype n = 1 + Pick(3); n > 0; --n) {
            const qsizetype at = Mark();
            switch (Pick(6)) {
                case 0:
                    Put(b, at + 4, Le32(Number(at + 8 <= b.size() ? U32At(b, at + 4) : 0)));
                    break;
                case 1:
                    Put(b, at, b.mid(Mark(), 4));
                    break;
                case 2:
                    Put(b, Pick(2) ? Pick(1024) : at + Pick(16) - 8,
                        QByteArray(1, char(Pick(256))));
                    break;
                case 3:
                    b.truncate(Pick(2) ? Pick(b.size() + 1) : at + Pick(24));
                    break;
                case 4:
                    Put(b, Pick(800) & ~3, Le32(Number(Pick(100))));
                    break;
                default:
                    for (qsizetype i = at; Pick(8); i += 12)
                        Put(b, i, "LIST" + Le32(Number(b.size() - i)) + b.mid(at + 8, 4));
            }
        }
        return b;
    }

    // What a power cut leaves from `from` on: a stretch zeroed (a page, or
    // any length), the file cut short, or both.
    QByteArray ZeroOrCut(QByteArray b, qsizetype from) {
        const qsizetype span = b.size() - from;
        const qsizetype what = Pick(3);
        if (what != 1) {
            qsizetype at = from + Pick(span);
            qsizetype length = 1 + Pick(8192);
            if (Pick(2)) {
                at = std::max(from, at - at % 4096);
                length = 4096;
            }
            length = std::min(length, b.size() - at);
            b.replace(at, length, QByteArray(length, '\0'));
        }
        if (what != 0) b.truncate(from + Pick(span + 1));
        return b;
    }

private:
    qsizetype Pick(qsizetype n) { return n > 0 ? qsizetype(rng_() % uint64_t(n)) : 0; }
    qsizetype Mark() { return marks_[size_t(Pick(qsizetype(marks_.size())))]; }

    uint32_t Number(uint32_t old) {
        const std::array<uint32_t, 14> picks = {
            0,       4,       8,       24,      0x7fffffffu, 0xffffffffu, 1u << 30,
            old + 1, old - 1, old + 8, old - 8, old * 2,     old / 2,     uint32_t(rng_())};
        return picks[Pick(picks.size())];
    }

    static void Put(QByteArray& b, qsizetype at, const QByteArray& bytes) {
        if (at >= 0 && at + bytes.size() <= b.size()) b.replace(at, bytes.size(), bytes);
    }

    std::mt19937_64 rng_;
    std::vector<qsizetype> marks_;
};

// A bounded run here; bench/avi_fuzz_bench.sh runs it for as long as asked.
// Every other file is zeroed or cut where a power cut can (in the segment
// the muxer was writing): then the frames kept are checked against a count
// that knows where the frames were and which bytes changed.
TEST_F(AviRepairTest, DamagedFilesNeverCrashGrowOrChangeWhenNotUnderstood) {
    // Two segments, as the muxer writes past 1 GiB, open and then finished.
    const QByteArray twoOpen = TwoSegments(crashed_, 7);
    ASSERT_TRUE(WriteAll(path_, twoOpen));
    const AviRepair two = Repair(path_);
    ASSERT_TRUE(two.ok) << two.error.toStdString();
    ASSERT_EQ(two.frames, 20u);
    EXPECT_EQ(testing::CountAviPackets(path_).packets, 20);
    EXPECT_EQ(testing::ReadAviWithGStreamer(path_).buffers, 20);
    const QByteArray twoFinished = ReadAll(path_);
    const std::array<QByteArray, 4> samples = {crashed_, finished_, twoOpen, twoFinished};

    const long long runs =
        qEnvironmentVariable("AVI_FUZZ_RUNS", QStringLiteral("3000")).toLongLong();
    const uint32_t seed = qEnvironmentVariable("AVI_FUZZ_SEED", QStringLiteral("1")).toUInt();
    std::vector<Mutator> mutators;
    mutators.reserve(samples.size());
    for (const QByteArray& s : samples) mutators.emplace_back(s, seed);
    std::array<long long, 3> outcomes{};  // repaired, already whole, left as it was
    std::array<long long, 4> frames{};    // zeroed or cut: files, kept, whole, at most
    QElapsedTimer clock;
    clock.start();
    long long run = 0;
    for (; run < runs && !HasFailure(); ++run) {
        SCOPED_TRACE(QStringLiteral("seed %1, run %2").arg(seed).arg(run).toStdString());
        const size_t which = size_t(run / 2) % samples.size();
        const QByteArray& sample = samples[which];
        const auto sampleFrames = Frames(sample);
        const qsizetype lastSegment = sample.lastIndexOf("RIFF");
        const auto writing = std::find_if(sampleFrames.begin(), sampleFrames.end(),
                                          [&](const auto& f) { return f.first > lastSegment; });
        const bool powerCut = run % 2 == 1;
        const QByteArray damaged = powerCut ? mutators[which].ZeroOrCut(sample, writing->first)
                                            : mutators[which].Damage(sample);
        ASSERT_TRUE(WriteAll(path_, damaged));
        const AviRepair r = Repair(path_);
        const QByteArray after = ReadAll(path_);
        ++outcomes[r.ok ? (r.changed ? 0 : 1) : 2];
        if (powerCut) {
            qsizetype lo = damaged.size();
            qsizetype hi = 0;
            for (qsizetype i = writing->first; i < damaged.size(); ++i)
                if (damaged.at(i) != sample.at(i)) {
                    lo = std::min(lo, i);
                    hi = i + 1;
                }
            // Whole and not changed: kept. Header or JPEG start changed: not.
            long long whole = 0;
            long long most = 0;
            for (const auto& [at, end] : sampleFrames) {
                if (end > damaged.size()) continue;
                whole += end <= lo || at >= hi;
                most += at + 10 <= lo || at >= hi;
            }
            EXPECT_TRUE(r.ok) << r.error.toStdString();
            EXPECT_GE(r.frames, uint64_t(whole));
            EXPECT_LE(r.frames, uint64_t(most));
            frames[0] += 1;
            frames[1] += qint64(r.frames);
            frames[2] += whole;
            frames[3] += most;
        }
        if (!r.ok || !r.changed) {
            EXPECT_FALSE(r.changed) << r.error.toStdString();
            EXPECT_EQ(after, damaged);
            continue;
        }
        // Past the old end goes at most a pad byte and the new index.
        EXPECT_LE(after.size(), damaged.size() + qsizetype(1 + 8 + 24 + 24 * r.frames));
        const AviRepair again = Repair(path_);
        EXPECT_TRUE(again.ok && !again.changed) << again.error.toStdString();
        EXPECT_EQ(again.frames, r.frames);
    }
    std::printf(
        "%lld damaged files in %lld ms: %lld repaired, %lld already whole, %lld left as "
        "they were; %lld zeroed or cut: %lld frames kept, %lld whole by an independent count, "
        "%lld at most\n",
        run, clock.elapsed(), outcomes[0], outcomes[1], outcomes[2], frames[0], frames[1],
        frames[2], frames[3]);
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
