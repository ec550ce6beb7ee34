#include "app/SettingsStore.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

namespace camwarden {
namespace {

// The real store on a temporary config home.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", saved_); }
    QString IniPath() const { return home_.filePath("Quillory/Quillory.ini"); }

    QTemporaryDir home_;
    QByteArray saved_;
};

TEST_F(SettingsStoreTest, AbsentKeyGivesTheDefaultAndWritesNothing) {
    QSettingsStore store;
    EXPECT_EQ(store.Read(QStringLiteral("OftenIndex"), QStringLiteral("2")), QStringLiteral("2"));
    EXPECT_FALSE(QFile::exists(IniPath()));
}

// Read from the file itself: a QSettings in this process would share the
// store's cache and see an unsaved value too.
TEST_F(SettingsStoreTest, EachWriteIsOnDiskAtOnceUnderTheProgramsSection) {
    QSettingsStore store;
    store.Write(QStringLiteral("Windows Startup"), QStringLiteral("On"));
    store.Write(QStringLiteral("Path"), QStringLiteral("/home/me/Clips/"));
    QFile onDisk(IniPath());
    ASSERT_TRUE(onDisk.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(onDisk.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Camwarden]\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nWindows%20Startup=On\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nPath=/home/me/Clips/\n"))) << text.toStdString();
}

// The user (or a second copy) edits the file while this one runs: the store
// that is already open reads what is there now, text for text.
TEST_F(SettingsStoreTest, ReadsWhatAnotherProcessWroteSinceAndKeepsTextExact) {
    QSettingsStore store;
    store.Write(QStringLiteral("StartStopState"), QStringLiteral("On"));
    ASSERT_EQ(store.Read(QStringLiteral("StartStopState"), QString()), QStringLiteral("On"));
    const int rc = QProcess::execute(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         QStringLiteral(
             "printf '[Camwarden]\\nStartStopState=on\\nReturnSecondsRec=\" 300 \"\\n' > \"$1\""),
         QStringLiteral("sh"), IniPath()});
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(store.Read(QStringLiteral("StartStopState"), QStringLiteral("On")),
              QStringLiteral("on"));
    EXPECT_EQ(store.Read(QStringLiteral("ReturnSecondsRec"), QStringLiteral("5")),
              QStringLiteral(" 300 "));
}

// A hand-edited value that QSettings would read as a list or a typed value
// came back as "" and was then written back, wiping the folder.
TEST_F(SettingsStoreTest, HandEditedTextIsReadAsTheTextThatIsThere) {
    QDir().mkpath(home_.filePath("Quillory"));
    QFile ini(IniPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[Other]\nPath=elsewhere\n[Camwarden]\nPath=/home/me/Clips, 2024/\n"
        "StartStopState=@Variant(\\0\\0\\0\\x7f)\nOftenIndex = 3\n");
    ini.close();
    QSettingsStore store;
    EXPECT_EQ(store.Read(QStringLiteral("Path"), QString()),
              QStringLiteral("/home/me/Clips, 2024/"));
    EXPECT_EQ(store.Read(QStringLiteral("StartStopState"), QString()),
              QStringLiteral("@Variant(\\0\\0\\0\\x7f)"));
    EXPECT_EQ(store.Read(QStringLiteral("OftenIndex"), QString()), QStringLiteral("3"));

    // Written back, the text survives as it was.
    store.Write(QStringLiteral("Path"), store.Read(QStringLiteral("Path"), QString()));
    EXPECT_EQ(QSettingsStore().Read(QStringLiteral("Path"), QString()),
              QStringLiteral("/home/me/Clips, 2024/"));
}

TEST_F(SettingsStoreTest, OtherApplicationsAndSectionsStayApart) {
    QSettingsStore store;
    store.WriteSetting("Quillory", "Camwarden", "Path", "a");
    store.WriteSetting("Quillory", "Other", "Path", "b");
    store.WriteSetting("Someone", "Camwarden", "Path", "c");
    EXPECT_EQ(store.ReadSetting("Quillory", "Camwarden", "Path", ""), "a");
    EXPECT_EQ(store.ReadSetting("Quillory", "Other", "Path", ""), "b");
    EXPECT_EQ(store.ReadSetting("Someone", "Camwarden", "Path", ""), "c");
}

}  // namespace
}  // namespace camwarden
