#include "storage/AviRepair.h"

#include <QFile>
#include <QFileDevice>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace camwarden::store {
namespace {

// The muxer starts a new RIFF segment before one reaches 1 GiB, so no chunk
// it writes is larger: a bigger size is damage, not a torn frame.
constexpr uint32_t kMaxChunk = 1u << 30;
// Bounds what a damaged file can make the walk hold: a day and a half of
// frames at 30 per second.
constexpr size_t kMaxChunks = size_t{1} << 22;
constexpr int kMaxHeaderChunks = 64;
// What the muxer marks every video chunk with in idx1: a key frame (MJPEG
// frames all are), plus the flag it always sets beside it.
constexpr uint32_t kKeyFrameFlags = 0x12;
constexpr uint32_t kHasIndex = 0x10;
constexpr qint64 kU32Max = std::numeric_limits<uint32_t>::max();
// The fixed part of a super index and of a standard index, after the chunk
// header.
constexpr qint64 kSuperHead = 24;
constexpr qint64 kIxHead = 24;

using FourCC = std::array<char, 4>;

bool Is(const char* id, const char* fourcc) {
    return std::memcmp(id, fourcc, 4) == 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsVideoId(const char* id) {
    return IsDigit(id[0]) && IsDigit(id[1]) && id[2] == 'd' && (id[3] == 'b' || id[3] == 'c');
}

void PutU32(char* p, uint32_t v) {
    qToLittleEndian(v, p);
}

struct Chunk {
    qint64 pos = 0;  // of its header
    uint32_t size = 0;
    qint64 End() const { return pos + 8 + qint64(size) + (size & 1); }
};

// Bytes between two chunks where no whole chunk could be read: zeroed or
// overwritten by a power cut, or a frame whose data does not hold a JPEG.
struct Stretch {
    qint64 pos = 0;
    qint64 end = 0;
};

struct Segment {
    qint64 riff = 0;  // its RIFF header
    qint64 movi = 0;  // its movi LIST header
    std::vector<Chunk> frames;
    std::optional<Chunk> ix;    // its standard index
    std::optional<Chunk> idx1;  // the first segment's old-style index
    std::vector<Stretch> damaged;
};

struct Layout {
    qint64 avih = -1;  // data positions
    qint64 strh = -1;
    qint64 dmlh = -1;
    uint32_t avihFlags = 0;
    uint32_t strhBufferSize = 0;
    std::optional<Chunk> superIndex;  // the room the muxer keeps for it
    FourCC tag{};                     // of the video chunks
    bool tagKnown = false;
    qint64 movi = -1;
    std::vector<Segment> segments;
    qint64 wholeEnd = 0;  // where the whole chunks end; one past the file when a pad byte is torn
    uint32_t largestFrame = 0;
};

// The first segment closes with both indexes, every other one with its
// standard index alone.
bool Closed(const Segment& s, bool first) {
    return s.ix && (!first || s.idx1);
}

// Whether the file's last segment still lacks the index that ends it: a file
// of one segment ends with idx1, one of several with a standard index.
bool LastIsOpen(const std::vector<Segment>& segments) {
    return segments.size() == 1 ? !segments[0].idx1 : !segments.back().ix;
}

// Reads the file's structure without writing: the header lists, then every
// chunk header of every segment, seeking from one to the next.
class Walk {
public:
    explicit Walk(QFileDevice& f) : f_(f), size_(f.size()) {}

    bool Run(Layout& l) { return Headers(l) && Movie(l); }
    QString error;

private:
    struct Head {
        char id[4];
        uint32_t size;
        bool jpeg;  // its data starts as a JPEG does
    };

    bool Fail(const QString& why) {
        if (error.isEmpty()) error = why;
        return false;
    }

    bool Read(qint64 pos, char* out, qint64 n) {
        if (pos < 0 || n < 0 || pos > size_ - n)
            return Fail(QStringLiteral("the file ends inside its header"));
        if (!f_.seek(pos) || f_.read(out, n) != n)
            return Fail(QStringLiteral("cannot read the file: %1").arg(f_.errorString()));
        return true;
    }

    bool ReadHead(qint64 pos, Head& h) {
        // With the first two bytes of its data, when there: a frame's are a
        // JPEG's start.
        char raw[10] = {};
        if (!Read(pos, raw, std::min<qint64>(10, size_ - pos))) return false;
        std::memcpy(h.id, raw, 4);
        h.size = qFromLittleEndian<uint32_t>(raw + 4);
        h.jpeg = uchar(raw[8]) == 0xff && uchar(raw[9]) == 0xd8;
        return true;
    }

    // Visits the chunks of a header list; each must lie wholly inside it.
    template <typename Visit>
    bool Children(qint64 pos, qint64 end, Visit&& visit) {
        for (int n = 0; pos + 8 <= end; ++n) {
            if (n == kMaxHeaderChunks) return Fail(QStringLiteral("a header list is too long"));
            Head h{};
            if (!ReadHead(pos, h)) return false;
            const qint64 dataEnd = pos + 8 + qint64(h.size);
            if (dataEnd > end) return Fail(QStringLiteral("a header chunk runs past its list"));
            if (!visit(h, pos, dataEnd)) return false;
            pos = dataEnd + (h.size & 1);
        }
        return true;
    }

    bool ListType(qint64 pos, const Head& h, char* type) {
        return h.size >= 4 && Read(pos + 8, type, 4);
    }

    bool Headers(Layout& l) {
        char riff[12];
        if (size_ < 12 || !Read(0, riff, 12) || !Is(riff, "RIFF") || !Is(riff + 8, "AVI ")) {
            error.clear();
            return Fail(QStringLiteral("not an AVI file"));
        }
        const QString incomplete = QStringLiteral("the file's header is incomplete");
        bool hdrl = false;
        qint64 pos = 12;
        for (int n = 0;; ++n) {
            if (n == kMaxHeaderChunks || size_ - pos < 12) return Fail(incomplete);
            char raw[12];
            if (!Read(pos, raw, 12)) return false;
            const auto size = qFromLittleEndian<uint32_t>(raw + 4);
            if (Is(raw, "LIST") && Is(raw + 8, "movi")) break;
            const qint64 end = pos + 8 + qint64(size);
            if (end > size_) return Fail(incomplete);
            if (Is(raw, "LIST") && Is(raw + 8, "hdrl")) {
                if (hdrl) return Fail(QStringLiteral("the file has two headers"));
                hdrl = true;
                if (!HeaderList(pos + 12, end, l)) return false;
            }
            pos = end + (size & 1);
        }
        l.movi = pos;
        if (!hdrl || l.avih < 0 || l.strh < 0) return Fail(incomplete);
        return true;
    }

    bool HeaderList(qint64 begin, qint64 end, Layout& l) {
        int streams = 0;
        return Children(begin, end, [&](const Head& h, qint64 pos, qint64 dataEnd) {
            char type[4];
            if (Is(h.id, "avih")) {
                char avih[56];
                if (l.avih >= 0 || h.size < 56)
                    return Fail(QStringLiteral("the main header is not the muxer's"));
                l.avih = pos + 8;
                if (!Read(l.avih, avih, 56)) return false;
                l.avihFlags = qFromLittleEndian<uint32_t>(avih + 12);
            } else if (Is(h.id, "LIST") && ListType(pos, h, type)) {
                if (Is(type, "strl")) {
                    if (++streams > 1)
                        return Fail(QStringLiteral("the file has more than one stream"));
                    return StreamList(pos + 12, dataEnd, l);
                }
                if (Is(type, "odml")) return OdmlList(pos + 12, dataEnd, l);
            }
            return error.isEmpty();
        });
    }

    bool StreamList(qint64 begin, qint64 end, Layout& l) {
        return Children(begin, end, [&](const Head& h, qint64 pos, qint64) {
            if (Is(h.id, "strh")) {
                char strh[56];
                if (l.strh >= 0 || h.size < 56 || !Read(pos + 8, strh, 56) || !Is(strh, "vids"))
                    return Fail(QStringLiteral("the stream is not the muxer's video stream"));
                l.strh = pos + 8;
                l.strhBufferSize = qFromLittleEndian<uint32_t>(strh + 36);
            } else if ((Is(h.id, "indx") || Is(h.id, "JUNK")) && h.size >= kSuperHead) {
                // The muxer keeps this room from the start, as JUNK until it
                // has a second segment to list.
                char head[kSuperHead];
                if (!Read(pos + 8, head, kSuperHead)) return false;
                const bool ofIndexes = qFromLittleEndian<uint16_t>(head) == 4 && head[2] == 0 &&
                                       head[3] == 0 && IsVideoId(head + 8);
                if (!ofIndexes) {
                    if (Is(h.id, "indx"))
                        return Fail(QStringLiteral("a super index the muxer does not write"));
                    return true;
                }
                if (l.superIndex) return Fail(QStringLiteral("the stream has two super indexes"));
                l.superIndex = Chunk{pos, h.size};
                std::memcpy(l.tag.data(), head + 8, 4);
                l.tagKnown = true;
            }
            return true;
        });
    }

    bool OdmlList(qint64 begin, qint64 end, Layout& l) {
        return Children(begin, end, [&](const Head& h, qint64 pos, qint64) {
            if (Is(h.id, "dmlh") && h.size >= 4) {
                if (l.dmlh >= 0) return Fail(QStringLiteral("the file has two frame totals"));
                l.dmlh = pos + 8;
            }
            return true;
        });
    }

    bool IsFrame(const Head& h, const Layout& l) const {
        return (l.tagKnown ? Is(h.id, l.tag.data()) : IsVideoId(h.id)) && h.size >= 4 &&
               h.size <= kMaxChunk;
    }

    bool IsIndexOf(const Head& h, const Layout& l) const {
        return h.id[0] == 'i' && h.id[1] == 'x' && l.tagKnown && h.id[2] == l.tag[0] &&
               h.id[3] == l.tag[1];
    }

    // Whether a frame's data ends as a JPEG does (zero bytes after its end
    // aside): the frame before a damaged stretch may have been cut into.
    bool EndsWhole(const Chunk& c) {
        const qint64 n = std::min<qint64>(c.size, 65536);
        QByteArray tail(n, Qt::Uninitialized);
        if (!Read(c.pos + 8 + c.size - n, tail.data(), n)) return false;
        qsizetype end = tail.size();
        while (end > 0 && tail.at(end - 1) == '\0') --end;
        return tail.left(end).right(16).contains("\xff\xd9");
    }

    // The next place from `from` on where the muxer's structure goes on: a
    // frame that starts as a JPEG, or a segment's start. None till the end.
    std::optional<qint64> Resync(qint64 from, const Layout& l) {
        constexpr qint64 kBlock = 65536;
        constexpr qint64 kOverlap = 12;
        QByteArray block;
        for (qint64 at = from + (from & 1); size_ - at >= 10; at += kBlock) {
            const qint64 n = std::min(kBlock + kOverlap, size_ - at);
            block.resize(n);
            if (!Read(at, block.data(), n)) return std::nullopt;
            for (qint64 i = 0; i + 10 <= n && i < kBlock; i += 2) {
                const char* p = block.constData() + i;
                Head h{};
                std::memcpy(h.id, p, 4);
                h.size = qFromLittleEndian<uint32_t>(p + 4);
                h.jpeg = uchar(p[8]) == 0xff && uchar(p[9]) == 0xd8;
                if ((IsFrame(h, l) && h.jpeg) ||
                    (Is(h.id, "RIFF") && i + 12 <= n && Is(p + 8, "AVIX")))
                    return at + i;
            }
        }
        return std::nullopt;
    }

    // The movie lists' own sizes may still be the writer's placeholders: go
    // by the chunks that are wholly in the file and stop at the torn one. A
    // stretch where no chunk can be read is passed over to the next frame.
    bool Movie(Layout& l) {
        l.segments.push_back(Segment{0, l.movi, {}, {}, {}, {}});
        qint64 pos = l.movi + 12;
        size_t chunks = 0;
        bool afterFrame = false;  // pos is where the last frame kept ends
        while (size_ - pos >= 8) {
            Head h{};
            if (!ReadHead(pos, h)) return false;
            if (++chunks > kMaxChunks) return Fail(QStringLiteral("the file has too many chunks"));
            Segment& seg = l.segments.back();
            const bool first = l.segments.size() == 1;
            if (Is(h.id, "RIFF")) {
                if (!Closed(seg, first))
                    return Fail(QStringLiteral("a segment ends without its index"));
                if (size_ - pos < 24) break;
                char raw[24];
                if (!Read(pos, raw, 24)) return false;
                if (!Is(raw + 8, "AVIX") || !Is(raw + 12, "LIST") || !Is(raw + 20, "movi"))
                    return Fail(QStringLiteral("a segment the muxer does not write"));
                l.segments.push_back(Segment{pos, pos + 12, {}, {}, {}, {}});
                afterFrame = false;
                pos += 24;
                continue;
            }
            // After the index that ends the file comes nothing the muxer
            // wrote: a repair cut off before it cut the file left it.
            if (seg.idx1 || (!first && seg.ix)) break;
            // A chunk whose data is all there is whole, even if its pad byte is not.
            const bool whole = qint64(h.size) <= size_ - pos - 8;
            const Chunk c{pos, h.size};
            bool taken = false;
            if (Is(h.id, "idx1") && first && whole) {
                taken = OldIndexAgrees(seg, c, l);
                if (taken) seg.idx1 = c;
            } else if (IsIndexOf(h, l) && !seg.ix && whole) {
                taken = StandardIndexAgrees(seg, c, l);
                if (taken) seg.ix = c;
            } else if (Is(h.id, "JUNK") && !seg.ix) {
                if (!whole) break;
                taken = true;
            } else if (IsFrame(h, l) && h.jpeg && !seg.ix) {
                if (!l.tagKnown) {
                    std::memcpy(l.tag.data(), h.id, 4);
                    l.tagKnown = true;
                }
                if (whole) {
                    seg.frames.push_back(c);
                    l.largestFrame = std::max(l.largestFrame, h.size);
                    afterFrame = true;
                    pos = c.End();
                    continue;
                }
                // Torn by the file's end, unless the muxer's chunks go on
                // inside it: then its size is damaged.
                const std::optional<qint64> next = Resync(pos + 8, l);
                if (!error.isEmpty()) return false;
                if (!next) break;
                seg.damaged.push_back({pos, *next});
                afterFrame = false;
                pos = *next;
                continue;
            }
            if (!error.isEmpty()) return false;
            if (taken) {
                afterFrame = false;
                pos = c.End();
                continue;
            }
            // Nothing the muxer writes whole is here. After a segment's
            // index nothing more of it can follow: the file ends there.
            if (seg.ix) break;
            // A frame running into it may have been cut into, or its size
            // damaged.
            qint64 from = pos;
            if (afterFrame && !EndsWhole(seg.frames.back())) {
                from = seg.frames.back().pos;
                seg.frames.pop_back();
            }
            if (!error.isEmpty()) return false;
            const std::optional<qint64> next = Resync(from + 2, l);
            if (!error.isEmpty()) return false;
            afterFrame = false;
            if (!next) {
                pos = from;
                break;
            }
            seg.damaged.push_back({from, *next});
            pos = *next;
        }
        l.wholeEnd = pos;
        return true;
    }

    // An index the muxer finished lists the frames before it; one that does
    // not was damaged, or written partly by a repair cut off.
    bool StandardIndexAgrees(const Segment& s, const Chunk& ix, const Layout& l) {
        const qint64 n = qint64(s.frames.size());
        if (qint64(ix.size) != kIxHead + 8 * n) return false;
        QByteArray raw(ix.size, Qt::Uninitialized);
        if (!Read(ix.pos + 8, raw.data(), raw.size())) return false;
        const char* p = raw.constData();
        if (qFromLittleEndian<uint16_t>(p) != 2 || p[2] != 0 || p[3] != 1 ||
            qFromLittleEndian<uint32_t>(p + 4) != n || !Is(p + 8, l.tag.data()))
            return false;
        const auto base = qFromLittleEndian<quint64>(p + 12);
        if (base > quint64(size_)) return false;
        for (qint64 i = 0; i < n; ++i) {
            const char* e = p + kIxHead + 8 * i;
            const Chunk& c = s.frames[size_t(i)];
            if (base + qFromLittleEndian<uint32_t>(e) != quint64(c.pos + 8) ||
                (qFromLittleEndian<uint32_t>(e + 4) & 0x7fffffffu) != c.size)
                return false;
        }
        return true;
    }

    // The muxer's entries count from the file's start.
    bool OldIndexAgrees(const Segment& s, const Chunk& idx1, const Layout& l) {
        const qint64 n = qint64(s.frames.size());
        if (qint64(idx1.size) != 16 * n) return false;
        QByteArray raw(idx1.size, Qt::Uninitialized);
        if (!Read(idx1.pos + 8, raw.data(), raw.size())) return false;
        for (qint64 i = 0; i < n; ++i) {
            const char* e = raw.constData() + 16 * i;
            const Chunk& c = s.frames[size_t(i)];
            if (!Is(e, l.tag.data()) || qFromLittleEndian<uint32_t>(e + 8) != c.pos ||
                qFromLittleEndian<uint32_t>(e + 12) != c.size)
                return false;
        }
        return true;
    }

    QFileDevice& f_;
    const qint64 size_;
};

struct Patch {
    qint64 pos;
    QByteArray bytes;
};

// Where everything goes once the last segment keeps `keep` of its frames.
struct Plan {
    qint64 tailPos = 0;  // the new index, written where the whole chunks end
    QByteArray tail;
    qint64 end = 0;  // the file's new length
    std::vector<Patch> patches;
    uint64_t frames = 0;
    uint64_t damaged = 0;
    uint64_t damagedBytes = 0;
};

QByteArray U32(uint32_t v) {
    QByteArray b(4, Qt::Uninitialized);
    PutU32(b.data(), v);
    return b;
}

QByteArray OldIndex(const std::vector<Chunk>& frames, size_t count, const FourCC& tag) {
    QByteArray idx(8 + qsizetype(count) * 16, Qt::Uninitialized);
    char* p = idx.data();
    std::copy_n("idx1", 4, p);
    PutU32(p + 4, uint32_t(count * 16));
    p += 8;
    for (size_t i = 0; i < count; ++i, p += 16) {
        std::memcpy(p, tag.data(), 4);
        PutU32(p + 4, kKeyFrameFlags);
        PutU32(p + 8, uint32_t(frames[i].pos));
        PutU32(p + 12, frames[i].size);
    }
    return idx;
}

// Entries point at the frame data and count from the segment's RIFF header,
// as the muxer's do.
QByteArray StandardIndex(const std::vector<Chunk>& frames, size_t count, const FourCC& tag,
                         qint64 base) {
    QByteArray ix(8 + kIxHead + qsizetype(count) * 8, '\0');
    char* p = ix.data();
    p[0] = 'i';
    p[1] = 'x';
    p[2] = tag[0];
    p[3] = tag[1];
    PutU32(p + 4, uint32_t(kIxHead + qint64(count) * 8));
    qToLittleEndian<uint16_t>(2, p + 8);
    p[11] = 1;  // an index of chunks
    PutU32(p + 12, uint32_t(count));
    std::memcpy(p + 16, tag.data(), 4);
    qToLittleEndian<quint64>(quint64(base), p + 20);
    p += 8 + kIxHead;
    for (size_t i = 0; i < count; ++i, p += 8) {
        PutU32(p, uint32_t(frames[i].pos + 8 - base));
        PutU32(p + 4, frames[i].size);
    }
    return ix;
}

struct SuperEntry {
    qint64 pos;
    uint32_t size;
    uint32_t frames;
};

std::optional<Plan> MakePlan(const Layout& l, qint64 fileSize, size_t keep, QString& error) {
    const auto fail = [&](const QString& why) {
        error = why;
        return std::nullopt;
    };
    Plan plan;
    size_t count = l.segments.size();
    const bool open = LastIsOpen(l.segments);
    // An open segment of the file's end that keeps no frame goes altogether.
    if (open && count > 1 && keep == 0) --count;
    const bool lastOpen = open && count == l.segments.size();

    std::vector<SuperEntry> super;
    uint64_t firstFrames = 0;
    for (size_t i = 0; i < count; ++i) {
        const Segment& s = l.segments[i];
        const bool first = i == 0;
        const bool tail = lastOpen && i + 1 == count;
        const size_t frames = tail ? keep : s.frames.size();
        qint64 moviEnd = 0;
        qint64 end = 0;
        bool indexed = s.ix.has_value();
        Chunk ix = s.ix.value_or(Chunk{});
        qint64 at = 0;
        if (!tail) {
            moviEnd = first ? s.idx1->pos : s.ix->End();
            end = first ? s.idx1->End() : moviEnd;
        } else {
            at = l.wholeEnd;
            if (keep < s.frames.size()) {
                at = keep ? s.frames[keep - 1].End() : s.movi + 12;
                indexed = false;
            }
            plan.tailPos = at;
            if (at > fileSize) {
                plan.tail.append('\0');  // the last frame's pad byte
                plan.tailPos = fileSize;
            }
            if (first) {
                plan.tail += OldIndex(s.frames, frames, l.tag);
                moviEnd = at;
            } else {
                indexed = true;
                ix = Chunk{at, uint32_t(kIxHead + qint64(frames) * 8)};
                plan.tail += StandardIndex(s.frames, frames, l.tag, s.riff);
                moviEnd = at + 8 + kIxHead + qint64(frames) * 8;
            }
            end = plan.tailPos + plan.tail.size();
        }
        if (frames > 0) {
            const Chunk& lastFrame = s.frames[frames - 1];
            if (first ? lastFrame.pos > kU32Max : lastFrame.pos + 8 - s.riff > kU32Max)
                return fail(QStringLiteral("a segment is too large for its index"));
        }
        if (end - s.riff - 8 > kU32Max)
            return fail(QStringLiteral("a segment is too large for its header"));
        // A damaged stretch that stays becomes JUNK, which every reader passes over.
        for (const Stretch& d : s.damaged) {
            if (tail && d.end > at) continue;
            ++plan.damaged;
            plan.damagedBytes += uint64_t(d.end - d.pos);
            if (d.end - d.pos >= 8)
                plan.patches.push_back({d.pos, "JUNK" + U32(uint32_t(d.end - d.pos - 8))});
        }
        if (indexed) super.push_back({ix.pos, uint32_t(8 + ix.size), uint32_t(frames)});
        if (first) firstFrames = frames;
        plan.frames += frames;
        plan.end = end;
        plan.patches.push_back({s.riff + 4, U32(uint32_t(end - s.riff - 8))});
        plan.patches.push_back({s.movi + 4, U32(uint32_t(moviEnd - s.movi - 8))});
    }

    if (l.superIndex) {
        const Chunk& slot = *l.superIndex;
        const size_t room = size_t(slot.size - kSuperHead) / 16;
        if (super.size() > room)
            return fail(QStringLiteral("more segments than the super index has room for"));
        QByteArray b(8 + kSuperHead + qsizetype(room) * 16, '\0');
        char* p = b.data();
        // Until there is a segment index to list, the muxer leaves it JUNK.
        std::copy_n(super.empty() ? "JUNK" : "indx", 4, p);
        PutU32(p + 4, slot.size);
        qToLittleEndian<uint16_t>(4, p + 8);
        PutU32(p + 12, uint32_t(super.size()));
        std::memcpy(p + 16, l.tag.data(), 4);
        p += 8 + kSuperHead;
        for (const SuperEntry& e : super) {
            qToLittleEndian<quint64>(quint64(e.pos), p);
            PutU32(p + 8, e.size);
            PutU32(p + 12, e.frames);
            p += 16;
        }
        plan.patches.push_back({slot.pos, b});
    } else if (count > 1) {
        return fail(QStringLiteral("no room for a super index to list the segments"));
    }

    // The counts as the muxer writes them: the main header holds the first
    // segment's frames, the stream header and the OpenDML header all of them.
    plan.patches.push_back({l.avih + 12, U32(l.avihFlags | kHasIndex)});
    plan.patches.push_back({l.avih + 16, U32(uint32_t(firstFrames))});
    plan.patches.push_back({l.strh + 32, U32(uint32_t(plan.frames))});
    plan.patches.push_back({l.strh + 36, U32(std::max(l.strhBufferSize, l.largestFrame))});
    if (l.dmlh >= 0) plan.patches.push_back({l.dmlh, U32(uint32_t(plan.frames))});
    return plan;
}

bool WriteAt(QFileDevice& f, qint64 pos, const char* data, qint64 n) {
    return n == 0 || (f.seek(pos) && f.write(data, n) == n);
}

bool Holds(QFileDevice& f, const Patch& p) {
    return f.seek(p.pos) && f.read(p.bytes.size()) == p.bytes;
}

}  // namespace

AviRepair RepairAvi(QFileDevice& file) {
    AviRepair r;
    // Chunk headers lie far apart: through a buffer each would pull in a
    // buffer's worth of frame data, and a write the disk refused would stay
    // queued to be written later.
    QFile direct;
    QFileDevice* io = &file;
    if (file.isOpen() && !file.openMode().testFlag(QIODevice::Unbuffered) && file.handle() >= 0) {
        if (!file.flush()) {
            r.error = file.errorString();
            return r;
        }
        const auto mode = file.openMode() & QIODevice::ReadWrite;
        if (direct.open(file.handle(), mode | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
            io = &direct;
    }
    QFileDevice& f = *io;
    if (!f.isReadable()) {
        r.error = QStringLiteral("the file is not open for reading");
        return r;
    }

    const qint64 size = f.size();
    Layout layout;
    Walk walk(f);
    if (!walk.Run(layout)) {
        r.error = walk.error;
        return r;
    }
    size_t keep = LastIsOpen(layout.segments) ? layout.segments.back().frames.size() : 0;
    std::optional<Plan> plan = MakePlan(layout, size, keep, r.error);
    if (!plan) return r;

    std::vector<const Patch*> pending;
    for (const Patch& p : plan->patches)
        if (!Holds(f, p)) pending.push_back(&p);
    if (plan->tail.isEmpty() && plan->end == size && pending.empty()) {
        r.ok = true;
        r.frames = plan->frames;
        r.damaged = plan->damaged;
        r.damagedBytes = plan->damagedBytes;
        return r;
    }
    if (!f.isWritable()) {
        r.error = QStringLiteral("the file is not open for writing");
        return r;
    }

    // What goes past the old end needs room on the disk: write it first, so
    // that when there is none the frames are still as they were, and give up
    // frames from the end until the index fits.
    for (;;) {
        const qint64 inside = std::clamp<qint64>(size - plan->tailPos, 0, plan->tail.size());
        const char* t = plan->tail.constData();
        if (WriteAt(f, plan->tailPos + inside, t + inside, plan->tail.size() - inside)) {
            if (!WriteAt(f, plan->tailPos, t, inside)) {
                r.changed = r.retry = true;
                r.error = f.errorString();
                return r;
            }
            break;
        }
        const QString why = f.errorString();
        if (f.size() != size && !f.resize(size)) {
            r.changed = r.retry = true;
            r.error = f.errorString();
            return r;
        }
        if (keep == 0) {
            r.retry = true;
            r.error = QStringLiteral("no room for the index: %1").arg(why);
            return r;
        }
        plan = MakePlan(layout, size, --keep, r.error);
        if (!plan) return r;
        pending.clear();
        for (const Patch& p : plan->patches) pending.push_back(&p);
    }
    r.changed = true;
    if (!f.resize(plan->end)) {
        r.retry = true;
        r.error = f.errorString();
        return r;
    }
    // These overwrite bytes already on disk, so they need no new room.
    for (const Patch* p : pending) {
        if (!WriteAt(f, p->pos, p->bytes.constData(), p->bytes.size())) {
            r.retry = true;
            r.error = f.errorString();
            return r;
        }
    }
    r.ok = true;
    r.frames = plan->frames;
    r.damaged = plan->damaged;
    r.damagedBytes = plan->damagedBytes;
    return r;
}

}  // namespace camwarden::store
