#pragma once

#include <QString>

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
// Mean brightness (Y, 0-255) over every frame; negative when unreadable.
double MeanLuma(const QString& path);

}  // namespace camwarden::testing
