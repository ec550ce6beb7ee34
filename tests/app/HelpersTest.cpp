#include "app/Helpers.h"
#include "app/VbError.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace camwarden {
namespace {

TEST(CleanPath, CollapsesPairsInOnePassWindowsStyle) {
    const QChar bs = QLatin1Char('\\');
    EXPECT_EQ(CleanPathWith(QStringLiteral("C:\\\\Video\\\\Clips\\\\SS 1.avi"), bs, 2),
              QStringLiteral("C:\\Video\\Clips\\SS 1.avi"));
    // Three become two, four become two: one pass, no re-scan.
    EXPECT_EQ(CleanPathWith(QStringLiteral("a\\\\\\b"), bs, 2), QStringLiteral("a\\\\b"));
    EXPECT_EQ(CleanPathWith(QStringLiteral("a\\\\\\\\b"), bs, 2), QStringLiteral("a\\\\b"));
    EXPECT_EQ(CleanPathWith(QStringLiteral("\\\\\\\\server\\share"), bs, 2),
              QStringLiteral("\\\\server\\share"));
    EXPECT_EQ(CleanPathWith(QStringLiteral("\\x"), bs, 2), QStringLiteral("\\\\x"));
    EXPECT_EQ(CleanPathWith(QStringLiteral("\\\\\\"), bs, 2), QStringLiteral("\\\\"));
    EXPECT_EQ(CleanPathWith(QString(), bs, 2), QString());
}

TEST(CleanPath, PosixKeepsOneLeadingSlash) {
    EXPECT_EQ(CleanPath(QStringLiteral("//home//me///clips/SS 1.avi")),
              QStringLiteral("/home/me//clips/SS 1.avi"));
    EXPECT_EQ(CleanPath(QStringLiteral("////")), QStringLiteral("/"));
    EXPECT_EQ(CleanPath(QStringLiteral("clips//a")), QStringLiteral("clips/a"));
}

TEST(FileAndFolderExists, TellFilesFromFolders) {
    QTemporaryDir dir;
    QFile file(dir.filePath("f.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(FileExists(file.fileName()));
    EXPECT_FALSE(FileExists(dir.filePath("missing")));
    EXPECT_FALSE(FileExists(QString()));
    EXPECT_TRUE(FolderExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.path() + '/'));
    EXPECT_FALSE(FolderExists(file.fileName()));
    EXPECT_FALSE(FolderExists(QString()));
    EXPECT_FALSE(FolderExists(dir.filePath("missing")));
}

// A folder that hangs (a dead network share) is taken as there at once, is
// not asked again while it hangs, and is asked afresh once it answers.
TEST(FolderProbe, AFolderThatHangsIsTakenAsThereWithoutPilingUpLooks) {
    std::mutex m;
    std::condition_variable cv;
    bool hung = true;
    std::atomic<int> looks{0};
    FolderProbe probe([&](const QString& path) {
        ++looks;
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return !hung; });
        return path == QLatin1String("/there");
    });
    EXPECT_TRUE(probe.Exists(QStringLiteral("/gone")));
    EXPECT_TRUE(probe.Exists(QStringLiteral("/gone")));
    EXPECT_EQ(looks.load(), 1);
    {
        std::lock_guard lock(m);
        hung = false;
    }
    cv.notify_all();
    // The hung look may still be returning; the next ones answer truly.
    while (!probe.Exists(QStringLiteral("/there")) || probe.Exists(QStringLiteral("/gone")))
        QThread::msleep(5);
    EXPECT_FALSE(probe.Exists(QStringLiteral("/gone")));
    EXPECT_TRUE(FolderProbe().Exists(QDir::tempPath()));
}

TEST(DesktopFolder, AlwaysEndsInOneSeparatorOrFails) {
    testing::FakeShellFolders shell;
    shell.desktop = QStringLiteral("/home/me/Desktop");
    EXPECT_EQ(DesktopFolder(shell), QStringLiteral("/home/me/Desktop/"));
    shell.desktop = QStringLiteral("/");
    EXPECT_EQ(DesktopFolder(shell), QStringLiteral("/"));
    shell.desktop.clear();
    try {
        DesktopFolder(shell);
        FAIL() << "expected an error";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number, 5);
    }
}

TEST(ShortTitle, CutsAtLastBlankAtLeastOnce) {
    EXPECT_EQ(SetShortTitle(QStringLiteral("Camwarden")), QStringLiteral("Camwarden"));
    EXPECT_EQ(SetShortTitle(QStringLiteral("Quillory Camwarden")), QStringLiteral("Quillory"));
    // Exactly 40 characters, five words: the last word still goes.
    const QString forty = QStringLiteral("Abcdefgh Abcdefgh Abcdefgh Abcdefgh Abcd");
    ASSERT_EQ(forty.size(), 40);
    EXPECT_EQ(SetShortTitle(forty), QStringLiteral("Abcdefgh Abcdefgh Abcdefgh Abcdefgh"));
    EXPECT_EQ(SetShortTitle(QString(30, 'a') + ' ' + QString(20, 'b') + ' ' + "c"),
              QString(30, 'a'));
}

TEST(Skin, AppliedOnlyWhenTheFileIsThere) {
    QTemporaryDir program;
    QWidget window;
    auto* frame = new QGroupBox(&window);
    auto* check = new QCheckBox(frame);
    auto* edit = new QLineEdit(&window);
    QPalette white = window.palette();
    white.setColor(QPalette::Window, Qt::white);
    window.setPalette(white);
    const QColor editBefore = edit->palette().color(QPalette::Window);

    ApplySkin(window, program.path());
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(window.styleSheet().isEmpty());

    ASSERT_TRUE(QDir(program.path()).mkpath("x"));
    QFile skin(program.filePath("x/o.cjs"));
    ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
    skin.write("QPushButton { color: navy; }");
    skin.close();
    ApplySkin(window, program.path());
    const QColor face = window.palette().color(QPalette::Button);
    EXPECT_EQ(window.palette().color(QPalette::Window), face);
    EXPECT_EQ(frame->palette().color(QPalette::Window), face);
    EXPECT_EQ(check->palette().color(QPalette::Window), face);
    EXPECT_FALSE(edit->autoFillBackground());
    EXPECT_EQ(edit->palette().color(QPalette::Window), editBefore);
    EXPECT_EQ(window.styleSheet(), QStringLiteral("QPushButton { color: navy; }"));
}

TEST(Skin, AFolderNamedLikeTheSkinIsNoSkin) {
    QTemporaryDir program;
    ASSERT_TRUE(QDir(program.path()).mkpath("x/o.cjs"));
    QWidget window;
    ApplySkin(window, program.path());
    EXPECT_TRUE(window.styleSheet().isEmpty());
}

}  // namespace
}  // namespace camwarden
