#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

// Widgets need an application object; tests never touch the user's real
// settings or desktop.
int main(int argc, char** argv) {
    // A settings home of the process's own: ctest runs each test in a
    // process, so no test sees another's settings, journal or log-on entry.
    // (On Windows the program's state lives under LOCALAPPDATA.)
    const QTemporaryDir home;
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "LOCALAPPDATA"})
        qputenv(var, QFile::encodeName(home.filePath(QLatin1String(var))));
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
