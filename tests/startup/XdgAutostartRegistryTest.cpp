#include "platform/xdg/XdgAutostartRegistry.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "startup/RegStuff.h"
#include "startup/mStartUp.h"

namespace camwarden {
namespace {

QString Read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

// desktop-file-validate's verdict on the entry; entries are only checked
// where the tool is installed (scripts/setup installs it).
::testing::AssertionResult IsValidEntry(const QString& path) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty()) return ::testing::AssertionSuccess() << "validator not installed";
    QProcess process;
    process.start(tool, {path});
    if (!process.waitForFinished(30000)) return ::testing::AssertionFailure() << "validator hung";
    const QString output = QString::fromUtf8(process.readAllStandardOutput()) +
                           QString::fromUtf8(process.readAllStandardError());
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) {
        return ::testing::AssertionSuccess() << output.toStdString();
    }
    return ::testing::AssertionFailure() << output.toStdString();
}

class XdgAutostartTest : public ::testing::Test {
protected:
    QTemporaryDir home;
    QString folder = home.path() + QStringLiteral("/config/autostart");
    XdgAutostartRegistry registry{folder, QStringLiteral("Camwarden")};
};

TEST_F(XdgAutostartTest, TickingWritesAValidEntryAndUntickingDeletesIt) {
    ASSERT_TRUE(mStartUp::AddStartupEntry(registry, QStringLiteral("/opt/camwarden/camwarden")));
    const QString entry = folder + QStringLiteral("/camwarden.desktop");
    ASSERT_TRUE(QFileInfo::exists(entry)) << "the folder is created when missing";
    EXPECT_EQ(Read(entry), QStringLiteral("[Desktop Entry]\n"
                                          "Type=Application\n"
                                          "Name=Camwarden\n"
                                          "Exec=\"/opt/camwarden/camwarden\"\n"
                                          "Terminal=false\n"));
    EXPECT_TRUE(IsValidEntry(entry));

    ASSERT_TRUE(mStartUp::RemoveStartupEntry(registry, QStringLiteral("/opt/camwarden/camwarden")));
    EXPECT_FALSE(QFileInfo::exists(entry));
}

TEST(XdgAutostartLook, EntryCarriesTheProgramsIconAndComment) {
    QTemporaryDir home;
    XdgAutostartRegistry registry(home.path(), QStringLiteral("Camwarden"),
                                  QStringLiteral("com.quillory.Camwarden"),
                                  QStringLiteral("Records webcam clips on a schedule"));
    ASSERT_TRUE(mStartUp::AddStartupEntry(registry, QStringLiteral("/usr/bin/camwarden")));
    const QString entry = registry.EntryPath(QStringLiteral("camwarden"));
    const QString text = Read(entry);
    EXPECT_TRUE(text.contains(QStringLiteral("\nIcon=com.quillory.Camwarden\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nComment=Records webcam clips on a schedule\n")));
    EXPECT_TRUE(IsValidEntry(entry));
}

TEST_F(XdgAutostartTest, ExecQuotesAndEscapesAnAwkwardPath) {
    const QString exe =
        QStringLiteral("/home/a b/it's \"x\" $HOME `id` back\\slash 100/cam warden");
    ASSERT_TRUE(mStartUp::AddStartupEntry(registry, exe));
    const QString entry = registry.EntryPath(QStringLiteral("cam warden"));
    EXPECT_TRUE(QFileInfo(entry).fileName().endsWith(QStringLiteral(".desktop")));
    EXPECT_FALSE(QFileInfo(entry).fileName().contains(QLatin1Char(' ')));

    const QString text = Read(entry);
    // Quoting rule first (\" \$ \` \\), then the string escape doubles
    // every backslash.
    EXPECT_TRUE(text.contains(QStringLiteral(
        "Exec=\"/home/a b/it's \\\\\"x\\\\\" \\\\$HOME \\\\`id\\\\` back\\\\\\\\slash "
        "100/cam warden\"\n")))
        << text.toStdString();
    EXPECT_TRUE(IsValidEntry(entry));

    ASSERT_TRUE(mStartUp::RemoveStartupEntry(registry, exe));
    EXPECT_FALSE(QFileInfo::exists(entry));

    // A launcher cannot start a program with a percent sign in its path, so
    // no entry is written and the caller hears of the failure.
    EXPECT_FALSE(mStartUp::AddStartupEntry(registry, QStringLiteral("/opt/100%/camwarden")));
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/camwarden.desktop")));
}

TEST_F(XdgAutostartTest, SessionLauncherRunsTheProgramTheEntryNames) {
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty()) GTEST_SKIP() << "gio not installed";
    // GLib looks for the program before expanding %%, so no percent sign here.
    const QString dir = home.path() + QStringLiteral("/it's \"a b\" $HOME `id` back\\slash");
    ASSERT_TRUE(QDir().mkpath(dir));
    const QString exe = dir + QStringLiteral("/cam warden");
    {
        QFile script(exe);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ntouch \"$0.ran\"\n");
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ExeOwner);
    }
    ASSERT_TRUE(mStartUp::AddStartupEntry(registry, exe));

    QProcess launch;
    launch.start(gio, {QStringLiteral("launch"), registry.EntryPath(QStringLiteral("cam warden"))});
    ASSERT_TRUE(launch.waitForFinished(30000));
    EXPECT_EQ(launch.exitCode(), 0) << launch.readAllStandardError().toStdString();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return QFileInfo::exists(exe + QStringLiteral(".ran")); }, 10000));
}

TEST_F(XdgAutostartTest, UnwritablePlacesReportFailure) {
    // A file where the folder should be: the key cannot be opened.
    const QString blocked = home.path() + QStringLiteral("/blocked");
    {
        QFile file(blocked);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    XdgAutostartRegistry noFolder(blocked + QStringLiteral("/autostart"),
                                  QStringLiteral("Camwarden"));
    Registry::Handle handle = 99;
    EXPECT_EQ(noFolder.RegOpenKeyEx(HkeyLocalMachine, QString::fromLatin1(RegStuff::RunSubKey), 0,
                                    KeyAccess, handle),
              ErrorAccessDenied);
    EXPECT_EQ(handle, 0u);
    EXPECT_FALSE(mStartUp::AddStartupEntry(noFolder, QStringLiteral("/usr/bin/camwarden")));

    // A directory standing where the entry file goes: the write fails.
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/camwarden.desktop")));
    EXPECT_FALSE(mStartUp::AddStartupEntry(registry, QStringLiteral("/usr/bin/camwarden")));
}

TEST_F(XdgAutostartTest, OnlyTheRunKeyExistsAndHandlesMustBeOpen) {
    Registry::Handle handle = 0;
    EXPECT_EQ(registry.RegOpenKeyEx(HkeyLocalMachine, QStringLiteral("SOFTWARE\\Other"), 0,
                                    KeyAccess, handle),
              ErrorFileNotFound);
    EXPECT_EQ(
        registry.RegOpenKeyEx(HkeyCurrentUser,
                              QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                              0, KeyAccess, handle),
        ErrorSuccess);
    EXPECT_EQ(registry.RegSetValueEx(handle, QStringLiteral("n"), RegDword, 5),
              ErrorInvalidParameter);
    EXPECT_EQ(registry.RegDeleteValue(handle, QStringLiteral("absent")), ErrorFileNotFound);
    EXPECT_EQ(registry.RegCloseKey(handle), ErrorSuccess);
    EXPECT_EQ(registry.RegSetValueEx(handle, QStringLiteral("n"), RegSz, QStringLiteral("/x")),
              ErrorInvalidHandle);
    EXPECT_EQ(registry.RegCloseKey(handle), ErrorInvalidHandle);
}

TEST(XdgAutostartFolderTest, FollowsXdgConfigHome) {
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    EXPECT_EQ(XdgAutostartRegistry::DefaultAutostartFolder(),
              config.path() + QStringLiteral("/autostart"));
    if (saved.isEmpty()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", saved);
    }
}

}  // namespace
}  // namespace camwarden
