#include "platform/gst/AviRepair.h"

#include <QFileDevice>
#include <QtEndian>
#include <cstring>
#include <optional>
#include <vector>

namespace camwarden::capgst {
namespace {

// What the muxer marks every video chunk with: a key frame (MJPEG frames
// all are), plus the flag it always sets beside it.
constexpr uint32_t kKeyFrameFlags = 0x12;

struct ChunkHeader {
    char id[4];
    uint32_t size;
};

struct Entry {
    char id[4];
    qint64 offset;  // of the chunk header, from the start of the file
    uint32_t size;
};

std::optional<ChunkHeader> ReadHeader(QFileDevice& f, qint64 pos) {
    char raw[8];
    if (!f.seek(pos) || f.read(raw, 8) != 8) return std::nullopt;
    ChunkHeader h{};
    std::memcpy(h.id, raw, 4);
    h.size = qFromLittleEndian<uint32_t>(raw + 4);
    return h;
}

bool Is(const char* id, const char* fourcc) {
    return std::memcmp(id, fourcc, 4) == 0;
}

bool ReadFourcc(QFileDevice& f, qint64 pos, char* out) {
    return f.seek(pos) && f.read(out, 4) == 4;
}

bool WriteAt(QFileDevice& f, qint64 pos, const QByteArray& bytes) {
    return f.seek(pos) && f.write(bytes) == bytes.size() && f.flush();
}

bool WriteU32(QFileDevice& f, qint64 pos, uint32_t value) {
    char raw[4];
    qToLittleEndian(value, raw);
    return WriteAt(f, pos, QByteArray(raw, 4));
}

qint64 Padded(uint32_t size) {
    return qint64(size) + (size & 1);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A chunk the muxer writes inside the movie list.
bool IsStreamChunk(const char* id) {
    return (IsDigit(id[0]) && IsDigit(id[1])) || Is(id, "JUNK") || (id[0] == 'i' && id[1] == 'x');
}

bool IsVideoFrame(const char* id) {
    return IsDigit(id[0]) && IsDigit(id[1]) && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b');
}

struct Layout {
    qint64 avihData = -1;
    qint64 strhData = -1;  // the first stream's: the video
    qint64 dmlhData = -1;
    qint64 moviList = -1;
};

void WalkHeaderList(QFileDevice& f, qint64 pos, qint64 end, Layout& out) {
    while (pos + 8 <= end) {
        const auto h = ReadHeader(f, pos);
        if (!h) return;
        if (Is(h->id, "LIST")) {
            char type[4];
            if (!ReadFourcc(f, pos + 8, type)) return;
            if (Is(type, "strl") || Is(type, "odml"))
                WalkHeaderList(f, pos + 12, std::min(end, pos + 8 + qint64(h->size)), out);
        } else if (Is(h->id, "avih") && h->size >= 56 && out.avihData < 0) {
            out.avihData = pos + 8;
        } else if (Is(h->id, "strh") && h->size >= 56 && out.strhData < 0) {
            out.strhData = pos + 8;
        } else if (Is(h->id, "dmlh") && h->size >= 4 && out.dmlhData < 0) {
            out.dmlhData = pos + 8;
        }
        pos += 8 + Padded(h->size);
    }
}

QByteArray IndexBytes(const std::vector<Entry>& entries, size_t count) {
    QByteArray idx(8 + qsizetype(count) * 16, Qt::Uninitialized);
    char* p = idx.data();
    constexpr char kIndexId[4] = {'i', 'd', 'x', '1'};
    std::memcpy(p, kIndexId, sizeof kIndexId);
    qToLittleEndian(uint32_t(count * 16), p + 4);
    p += 8;
    for (size_t i = 0; i < count; ++i, p += 16) {
        std::memcpy(p, entries[i].id, 4);
        qToLittleEndian(IsVideoFrame(entries[i].id) ? kKeyFrameFlags : 0u, p + 4);
        qToLittleEndian(uint32_t(entries[i].offset), p + 8);
        qToLittleEndian(entries[i].size, p + 12);
    }
    return idx;
}

}  // namespace

AviRepair RepairAvi(QFileDevice& f) {
    AviRepair r;
    const qint64 size = f.size();
    char riff[12];
    if (size < 12 || !f.seek(0) || f.read(riff, 12) != 12 || !Is(riff, "RIFF") ||
        !Is(riff + 8, "AVI ")) {
        r.error = QStringLiteral("not an AVI file");
        return r;
    }

    Layout layout;
    for (qint64 pos = 12; pos + 12 <= size;) {
        const auto h = ReadHeader(f, pos);
        char type[4];
        if (!h || !ReadFourcc(f, pos + 8, type)) break;
        if (Is(h->id, "LIST") && Is(type, "hdrl")) {
            WalkHeaderList(f, pos + 12, std::min(size, pos + 8 + qint64(h->size)), layout);
        } else if (Is(h->id, "LIST") && Is(type, "movi")) {
            layout.moviList = pos;
            break;
        }
        pos += 8 + Padded(h->size);
    }
    if (layout.avihData < 0 || layout.strhData < 0 || layout.moviList < 0) {
        r.error = QStringLiteral("the file's header is incomplete");
        return r;
    }

    // The movie list's own size may still be the writer's placeholder: go by
    // the chunks that are wholly in the file.
    std::vector<Entry> entries;
    qint64 pos = layout.moviList + 12;
    while (pos + 8 <= size) {
        const auto h = ReadHeader(f, pos);
        if (!h || !IsStreamChunk(h->id) || pos + 8 + qint64(h->size) > size) break;
        if (!Is(h->id, "JUNK") && !(h->id[0] == 'i' && h->id[1] == 'x')) {
            Entry e{};
            std::memcpy(e.id, h->id, 4);
            e.offset = pos;
            e.size = h->size;
            entries.push_back(e);
        }
        pos = std::min(size, pos + 8 + Padded(h->size));
    }

    // Without room for the index, give up frames from the end until it fits.
    qint64 moviEnd = pos;
    size_t kept = entries.size();
    for (;;) {
        if (!f.resize(moviEnd)) {
            r.error = f.errorString();
            return r;
        }
        if (WriteAt(f, moviEnd, IndexBytes(entries, kept))) break;
        if (kept == 0) {
            f.resize(moviEnd);
            r.error = QStringLiteral("no room for the index: %1").arg(f.errorString());
            return r;
        }
        --kept;
        moviEnd = entries[kept].offset;
    }

    uint64_t frames = 0;
    for (size_t i = 0; i < kept; ++i) frames += IsVideoFrame(entries[i].id) ? 1 : 0;
    const qint64 end = moviEnd + 8 + qint64(kept) * 16;
    // These overwrite bytes already on disk, so they need no new room.
    const bool patched =
        WriteU32(f, 4, uint32_t(end - 8)) &&
        WriteU32(f, layout.moviList + 4, uint32_t(moviEnd - layout.moviList - 8)) &&
        WriteU32(f, layout.avihData + 16, uint32_t(frames)) &&
        WriteU32(f, layout.strhData + 32, uint32_t(frames)) &&
        (layout.dmlhData < 0 || WriteU32(f, layout.dmlhData, uint32_t(frames)));
    if (!patched) {
        r.error = f.errorString();
        return r;
    }
    r.ok = true;
    r.frames = frames;
    return r;
}

}  // namespace camwarden::capgst
