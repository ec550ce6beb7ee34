#include "tray/QuilloryIcon.h"

#include <gtest/gtest.h>
#include <QImage>
#include <functional>

namespace camwarden {
namespace {

int Count(const QImage& image, const std::function<bool(QColor)>& match) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += match(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool IsBlue(QColor c) {
    return c.blue() > 150 && c.red() < 90 && c.green() < 120;
}
bool IsBlack(QColor c) {
    return c.red() < 60 && c.green() < 60 && c.blue() < 60;
}
bool IsLight(QColor c) {
    return c.lightness() > 200;
}

TEST(QuilloryIconTest, BlueOutlinedQOnLightGroundAtEverySize) {
    const QIcon icon = QuilloryIcon();
    for (int size : {16, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage image = icon.pixmap(size, size).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        const int all = size * size;
        EXPECT_TRUE(IsLight(image.pixelColor(0, 0)));
        // The middle of the ring.
        EXPECT_TRUE(IsLight(image.pixelColor(size * 48 / 100, size * 46 / 100)))
            << "the Q is hollow";
        EXPECT_GT(Count(image, IsBlue), all / 20);
        EXPECT_GT(Count(image, IsBlack), all / 40);
        EXPECT_GT(Count(image, IsLight), all / 3);
    }
}

}  // namespace
}  // namespace camwarden
