// Records an unfinished clip through the real muxer, and repairs a clip
// printing how long it took and how much of the file it read.
// avi_repair_bench.sh runs both around cutting the file.
//   avi_repair_driver make FILE MEGABYTES WIDTH HEIGHT
//   avi_repair_driver repair FILE

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

#include "storage/AviRepair.h"
#include "tests/gst/GstAvi.h"

namespace {

// Bytes this process has read so far, from the page cache or the disk.
long long BytesRead() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:")) return line.mid(6).trimmed().toLongLong();
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 6 && args[1] == QLatin1String("make")) {
        using camwarden::testing::MjpegClip;
        const int width = args[4].toInt();
        const int height = args[5].toInt();
        MjpegClip clip{camwarden::testing::EncodeJpeg(width, height, "snow", 85), width, height, 30,
                       0};
        if (clip.jpeg.isEmpty()) return 1;
        clip.frames = int(args[3].toLongLong() * 1'000'000 / (clip.jpeg.size() + 8)) + 1;
        if (!camwarden::testing::MuxMjpegAvi(args[2], clip, false)) return 1;
        std::printf("frames=%d frame_bytes=%lld\n", clip.frames, (long long)clip.jpeg.size());
        return 0;
    }
    if (args.size() == 3 && args[1] == QLatin1String("repair")) {
        QFile f(args[2]);
        if (!f.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) return 1;
        const long long before = BytesRead();
        QElapsedTimer clock;
        clock.start();
        const camwarden::store::AviRepair r = camwarden::store::RepairAvi(f);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        std::printf("ok=%d changed=%d frames=%llu seconds=%.3f read_kib=%lld error=%s\n", r.ok,
                    r.changed, (unsigned long long)r.frames, seconds, (BytesRead() - before) / 1024,
                    qPrintable(r.error));
        return r.ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: %s make FILE MEGABYTES WIDTH HEIGHT | repair FILE\n", argv[0]);
    return 2;
}
