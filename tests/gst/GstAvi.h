#pragma once

#include <QByteArray>
#include <QString>

namespace camwarden::testing {

// One picture as jpegenc encodes it; empty when GStreamer cannot.
QByteArray EncodeJpeg(int width, int height, const char* pattern, int quality);

struct MjpegClip {
    QByteArray jpeg;  // every frame is this picture
    int width = 0;
    int height = 0;
    int fps = 30;
    int frames = 0;
};

// Records the clip through the real muxer into path, as fast as the disk
// takes it. Finished, the stream ends and the muxer writes its indexes and
// header; unfinished, the pipeline stops after the last frame without ending
// the stream, leaving the file as a killed program leaves it.
bool MuxMjpegAvi(const QString& path, const MjpegClip& clip, bool finished);

// What GStreamer makes of a file: the buffers its demuxer reads to the end,
// and the duration the discoverer reports; negative when it fails.
struct GstAviRead {
    long long buffers = -1;
    double duration = -1;
};
GstAviRead ReadAviWithGStreamer(const QString& path);

}  // namespace camwarden::testing
