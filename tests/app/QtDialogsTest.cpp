#include "platform/qt/QtDialogs.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace camwarden {
namespace {

QList<QMessageBox*> OpenBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes << box;
    return boxes;
}

TEST(QtDialogs, BoxesDoNotBlockAndTheSameTextIsNeverStacked) {
    QtDialogs dialogs;
    dialogs.SetAppTitle(QStringLiteral("Camwarden"));
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });

    dialogs.MsgBox(QStringLiteral("Folder does not exist"));
    dialogs.MsgBox(QStringLiteral("Folder does not exist"));
    dialogs.MsgBox(QStringLiteral("Error capturing video."));
    QTest::qWait(20);
    EXPECT_TRUE(ticked) << "the event loop ran while the boxes were open";

    QList<QMessageBox*> boxes = OpenBoxes();
    ASSERT_EQ(boxes.size(), 2);
    for (QMessageBox* box : boxes) {
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Camwarden"));
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    }

    // Once answered, the same text may come again.
    for (QMessageBox* box : boxes) box->button(QMessageBox::Ok)->click();
    QTest::qWait(20);
    EXPECT_TRUE(OpenBoxes().isEmpty());
    dialogs.MsgBox(QStringLiteral("Folder does not exist"));
    EXPECT_EQ(OpenBoxes().size(), 1);
    OpenBoxes().front()->button(QMessageBox::Ok)->click();
    QTest::qWait(20);
}

TEST(QtDialogs, ErrorReportHasTheWarningIconAndItsTitle) {
    QtDialogs dialogs;
    dialogs.MsgBox(QStringLiteral("Overflow\r\nin x\r\rPlease"), MsgIcon::Exclamation,
                   QStringLiteral("Application Error"));
    const QList<QMessageBox*> boxes = OpenBoxes();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->icon(), QMessageBox::Warning);
    EXPECT_EQ(boxes[0]->windowTitle(), QStringLiteral("Application Error"));
    EXPECT_EQ(boxes[0]->text(), QStringLiteral("Overflow\nin x\n\nPlease"));
    boxes[0]->button(QMessageBox::Ok)->click();
    QTest::qWait(20);
}

// Sets an environment variable for as long as it lives.
class EnvFor {
public:
    EnvFor(const char* name, const QString& value) : name_(name), saved_(qgetenv(name)) {
        qputenv(name, value.toLocal8Bit());
    }
    ~EnvFor() { qputenv(name_, saved_); }
    EnvFor(const EnvFor&) = delete;
    EnvFor& operator=(const EnvFor&) = delete;

private:
    const char* name_;
    QByteArray saved_;
};

// The desktop is the folder the session's user-dirs.dirs names. Asked to,
// it is made when it is not there, but not below a folder that is missing.
TEST(QtShellFolders, TheSessionsDesktopIsMadeWhenAskedAndNotBelowAMissingFolder) {
    const QTemporaryDir home;
    const EnvFor homeVar("HOME", home.path());
    const EnvFor configVar("XDG_CONFIG_HOME", home.filePath("config"));
    ASSERT_TRUE(QDir().mkpath(home.filePath("config")));
    const auto name = [&](const QByteArray& desktop) {
        QFile dirs(home.filePath("config/user-dirs.dirs"));
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly | QIODevice::Truncate));
        dirs.write("XDG_DESKTOP_DIR=\"" + desktop + "\"\n");
    };
    QtShellFolders shell;
    const QString desktop = home.filePath("Schreibtisch");

    name("$HOME/Schreibtisch");
    EXPECT_EQ(shell.SpecialFolderPath(ShellFolders::kDesktop, false), desktop);
    EXPECT_FALSE(QFileInfo::exists(desktop));
    EXPECT_EQ(shell.SpecialFolderPath(ShellFolders::kDesktop, true), desktop);
    EXPECT_TRUE(QFileInfo(desktop).isDir());

    name("$HOME/gone/Desktop");
    EXPECT_EQ(shell.SpecialFolderPath(ShellFolders::kDesktop, true), home.filePath("gone/Desktop"));
    EXPECT_FALSE(QFileInfo::exists(home.filePath("gone")));
}

}  // namespace
}  // namespace camwarden
