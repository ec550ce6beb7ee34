#include <gtest/gtest.h>

#include <QRect>

#include "platform/gst/TimeStamp.h"

namespace camwarden::capgst {
namespace {

using namespace std::chrono_literals;

// The time of a frame counts on from its clip's start by the frame's own
// running time, over midnight and the year's end, a frame belonging to the
// second it began in.
TEST(TimeStamp, AFramesTimeIsItsClipsStartPlusItsRunningTime) {
    const QDateTime start(QDate(2026, 12, 31), QTime(23, 59, 58, 600), Qt::UTC);
    const auto at = [&](std::chrono::nanoseconds running) {
        return FrameWallTime(start, running)
            .toUTC()
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    };
    EXPECT_EQ(at(0ns), "2026-12-31 23:59:58.600");
    EXPECT_EQ(at(399'999'999ns), "2026-12-31 23:59:58.999");
    EXPECT_EQ(at(400ms), "2026-12-31 23:59:59.000");
    EXPECT_EQ(at(1400ms), "2027-01-01 00:00:00.000");
    EXPECT_EQ(at(3600s + 5s), "2027-01-01 01:00:03.600");
    // A frame stamped before its clip began (a camera's own clock) is not
    // dated before the clip.
    EXPECT_EQ(at(-2s), "2026-12-31 23:59:58.600");

    const QDateTime local(QDate(2022, 1, 5), QTime(9, 3, 7, 250));
    EXPECT_EQ(StampText(FrameWallTime(local, 4800ms)), "2022-01-05 09:03:12");
    EXPECT_EQ(StampText(FrameWallTime(local.toUTC(), 0ns)), "2022-01-05 09:03:07");
}

// From the smallest frame a camera offers to 4K the stamp is whole within
// the frame, about a twentieth of its height, and drawn light on dark.
TEST(TimeStamp, TheStampFitsEveryFrameSizeAndIsReadable) {
    const QString text = QStringLiteral("2026-12-09 21:49:59");
    for (const QSize frame :
         {QSize(160, 120), QSize(176, 144), QSize(320, 240), QSize(640, 480), QSize(1280, 720),
          QSize(1920, 1080), QSize(3840, 2160), QSize(120, 160)}) {
        const StampPicture p = DrawStamp(text, frame.width(), frame.height());
        const QRect placed(p.at, p.image.size());
        const auto which = QStringLiteral("%1x%2").arg(frame.width()).arg(frame.height());
        EXPECT_TRUE(QRect(QPoint(0, 0), frame).contains(placed)) << which.toStdString();
        // Narrower frames get the text smaller, whole.
        if (frame.width() >= frame.height()) {
            EXPECT_GE(p.image.height(), frame.height() / 20) << which.toStdString();
        }
        if (frame.width() >= 320) {
            EXPECT_LE(p.image.height(), frame.height() / 20 * 2) << which.toStdString();
        }
        EXPECT_EQ(p.image.format(), QImage::Format_ARGB32_Premultiplied);
        // A dark band behind light text: both are there.
        int light = 0, dark = 0;
        for (int y = 0; y < p.image.height(); ++y)
            for (int x = 0; x < p.image.width(); ++x) {
                const QColor c = p.image.pixelColor(x, y);
                (c.lightness() > 200 ? light : dark) += c.alpha() > 100 ? 1 : 0;
            }
        EXPECT_GT(light, 0) << which.toStdString();
        EXPECT_GT(dark, light) << which.toStdString();
    }
}

}  // namespace
}  // namespace camwarden::capgst
