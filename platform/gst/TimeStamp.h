#pragma once

#include <gst/gst.h>

#include <QDateTime>
#include <QImage>
#include <QPoint>
#include <QString>
#include <chrono>

namespace camwarden::capgst {

// When a frame was taken: the wall time at which its clip's running time
// began, plus the frame's running time. Counting on from one wall time keeps
// the stamp steady through a clip when the wall clock is set meanwhile.
QDateTime FrameWallTime(const QDateTime& clipStart, std::chrono::nanoseconds runningTime);

// The stamp's text: the local time to the second.
QString StampText(const QDateTime& when);

// The stamp as it goes onto a frame of the given size: light text on a dark
// band, about a twentieth of the frame's height, never wider than the frame.
struct StampPicture {
    QImage image;  // premultiplied ARGB, as GStreamer's overlays take it
    QPoint at;     // its top left corner within the frame
};
StampPicture DrawStamp(const QString& text, int frameWidth, int frameHeight);

// Blends the time each frame was taken into every raw frame that passes
// `pad`. The text is drawn once a second; the pad keeps what it needs.
void AttachTimeStamp(GstPad* pad);

}  // namespace camwarden::capgst
