#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>

// Widgets need an application object; tests never touch the user's real
// settings or desktop.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
