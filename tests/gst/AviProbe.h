#pragma once

#include <QString>
#include <QVector>

namespace camwarden::testing {

// What ffprobe finds in a clip file, decoding every frame.
struct AviInfo {
    bool readable = false;  // ffprobe ran and understood the file
    QString container;
    int videoStreams = 0;
    int audioStreams = 0;
    QString codec;
    QString pixelFormat;
    int width = 0;
    int height = 0;
    QString frameRate;             // as "num/den"
    long long headerFrames = -1;   // what the finished header states
    long long decodedFrames = -1;  // what could actually be decoded
    double duration = -1;
    bool hasIndex = false;  // the idx1 chunk written when a file is finished
    QString errors;         // ffprobe's complaints while decoding
};

AviInfo ProbeAvi(const QString& path);

// What ffprobe counts without decoding, for files too large to decode in a test.
struct AviPackets {
    long long headerFrames = -1;  // what the header states
    long long packets = -1;       // what could be read
    QVector<qint64> positions;    // of each frame's data, when asked for
};
AviPackets CountAviPackets(const QString& path, bool positions = false);

// Mean brightness (Y, 0-255) over every frame; negative when unreadable.
double MeanLuma(const QString& path);

}  // namespace camwarden::testing
