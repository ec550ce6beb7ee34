#include "app/CaretRest.h"
#include "app/ClassicStyle.h"

#include <gtest/gtest.h>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QStyleFactory>
#include <QStyleHints>
#include <QTest>

namespace camwarden {
namespace {

QImage Render(QStyle* style, QSize size, bool flat) {
    QGroupBox box(QStringLiteral("On. Next webcam record will occur in: 23:59:59"));
    box.setStyle(style);
    box.setFlat(flat);
    box.resize(size);
    QPalette pal = box.palette();
    pal.setColor(QPalette::Window, Qt::white);
    box.setPalette(pal);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    box.render(&image);
    return image;
}

// The cheap frame must be the very pixels the classic style draws.
TEST(ClassicStyle, GroupFramesArePixelForPixelTheClassicOnes) {
    const std::unique_ptr<QStyle> windows(QStyleFactory::create(QStringLiteral("Windows")));
    ClassicStyle classic;
    for (const QSize size : {QSize(520, 57), QSize(3, 3), QSize(100, 200)}) {
        for (const bool flat : {false, true}) {
            EXPECT_EQ(Render(&classic, size, flat), Render(windows.get(), size, flat))
                << size.width() << "x" << size.height() << (flat ? " flat" : "");
        }
    }
}

TEST(CaretRest, CaretStopsBlinkingWhenLeftAloneAndBlinksAgainOnAKey) {
    QStyleHints* hints = QGuiApplication::styleHints();
    const int flash = hints->cursorFlashTime();
    ASSERT_GT(flash, 0);
    {
        CaretRest rest(std::chrono::milliseconds(50));
        QWidget target;
        EXPECT_FALSE(rest.Resting());
        QTRY_VERIFY(rest.Resting());
        EXPECT_EQ(hints->cursorFlashTime(), 0);
        QTest::keyClick(&target, Qt::Key_A);
        EXPECT_FALSE(rest.Resting());
        EXPECT_EQ(hints->cursorFlashTime(), flash);
        QTRY_VERIFY(rest.Resting());
    }
    EXPECT_EQ(hints->cursorFlashTime(), flash) << "the desktop's setting is given back";
}

}  // namespace
}  // namespace camwarden
