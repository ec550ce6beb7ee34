#include "startup/RegStuff.h"

#include <gtest/gtest.h>
#include <QDir>

#include "startup/mStartUp.h"
#include "support/FakeRegistry.h"

namespace camwarden {
namespace {

using testing::FakeRegistry;

const QString RunKey = QString::fromLatin1(RegStuff::RunSubKey);

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

TEST(RegStuffTest, RunValueIsNamedAfterTheExecutableAndHoldsItsQuotedPath) {
    FakeRegistry registry;
    EXPECT_EQ(RegStuff::SetRunValue(registry, QStringLiteral("/opt/cam warden"),
                                    QStringLiteral("camwarden")),
              ErrorSuccess);

    // Where the system looks for the user's programs to start at log-on.
    const auto value = registry.value(
        HkeyCurrentUser, QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QStringLiteral("camwarden"));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, RegSz);
    EXPECT_EQ(std::get<QString>(value->data),
              QStringLiteral("\"") + Native(QStringLiteral("/opt/cam warden/camwarden")) +
                  QStringLiteral("\""));
    EXPECT_TRUE(registry.allClosed());
}

TEST(RegStuffTest, FolderEndingInASeparatorGetsNoSecondOne) {
    EXPECT_EQ(RegStuff::RunValueData(QStringLiteral("/"), QStringLiteral("camwarden")),
              QStringLiteral("\"") + Native(QStringLiteral("/camwarden")) + QStringLiteral("\""));
    EXPECT_EQ(RegStuff::RunValueData(QStringLiteral("/opt/bin/"), QStringLiteral("camwarden")),
              RegStuff::RunValueData(QStringLiteral("/opt/bin"), QStringLiteral("camwarden")));
}

TEST(RegStuffTest, FailuresComeBackToTheCallerAndKeysAreClosed) {
    FakeRegistry registry;
    registry.failOpen = ErrorAccessDenied;
    EXPECT_EQ(RegStuff::SetRunValue(registry, QStringLiteral("/opt"), QStringLiteral("cw")),
              ErrorAccessDenied);
    EXPECT_EQ(registry.sets, 0) << "nothing is written when the key does not open";
    EXPECT_EQ(registry.closes, 0);

    registry.failOpen.reset();
    registry.failSet = ErrorWriteFault;
    EXPECT_EQ(RegStuff::SetRunValue(registry, QStringLiteral("/opt"), QStringLiteral("cw")),
              ErrorWriteFault);
    EXPECT_TRUE(registry.allClosed());
    EXPECT_EQ(registry.valueCount(), 0u);
}

TEST(RegStuffTest, DeleteRemovesTheNamedValueOnly) {
    FakeRegistry registry;
    RegStuff::SetRunValue(registry, QStringLiteral("/a"), QStringLiteral("one"));
    RegStuff::SetRunValue(registry, QStringLiteral("/a"), QStringLiteral("two"));
    EXPECT_EQ(RegStuff::DeleteRunValue(registry, QStringLiteral("one")), ErrorSuccess);
    EXPECT_FALSE(registry.value(HkeyCurrentUser, RunKey, QStringLiteral("one")).has_value());
    EXPECT_TRUE(registry.value(HkeyCurrentUser, RunKey, QStringLiteral("two")).has_value());
    EXPECT_EQ(RegStuff::DeleteRunValue(registry, QStringLiteral("one")), ErrorFileNotFound);
    EXPECT_TRUE(registry.allClosed());
}

// An earlier version registered under the machine's key, which only an
// administrator may change: clearing the box removes that value where the
// rights allow, and a refusal there is no failure.
TEST(RegStuffTest, DeleteAlsoRemovesAMachineWideValueWhereAllowed) {
    FakeRegistry registry;
    Registry::Handle key = 0;
    ASSERT_EQ(registry.RegOpenKeyEx(HkeyLocalMachine, RunKey, 0, KeyAccess, key), ErrorSuccess);
    ASSERT_EQ(registry.RegSetValueEx(key, QStringLiteral("camwarden.exe"), RegSz,
                                     QStringLiteral("C:\\Camwarden\\camwarden.exe")),
              ErrorSuccess);
    registry.RegCloseKey(key);
    EXPECT_EQ(RegStuff::DeleteRunValue(registry, QStringLiteral("camwarden.exe")), ErrorSuccess)
        << "the machine's value was the one there to go";
    EXPECT_EQ(registry.valueCount(), 0u);

    registry.refusedRoots = {HkeyLocalMachine};
    RegStuff::SetRunValue(registry, QStringLiteral("C:\\Camwarden"),
                          QStringLiteral("camwarden.exe"));
    EXPECT_EQ(RegStuff::DeleteRunValue(registry, QStringLiteral("camwarden.exe")), ErrorSuccess);
    EXPECT_EQ(registry.valueCount(), 0u);
    EXPECT_TRUE(registry.allClosed());
}

TEST(StartUpTest, EntryNamesTheRunningExecutableAndIsRemovedAgain) {
    FakeRegistry registry;
    EXPECT_TRUE(mStartUp::AddStartupEntry(registry, QStringLiteral("/usr/local/bin/camwarden")));
    EXPECT_EQ(registry.text(HkeyCurrentUser, RunKey, QStringLiteral("camwarden")),
              QStringLiteral("\"") + Native(QStringLiteral("/usr/local/bin/camwarden")) +
                  QStringLiteral("\""));
    EXPECT_EQ(registry.valueCount(), 1u);

    EXPECT_TRUE(mStartUp::RemoveStartupEntry(registry, QStringLiteral("/usr/local/bin/camwarden")));
    EXPECT_EQ(registry.valueCount(), 0u);
    EXPECT_TRUE(mStartUp::RemoveStartupEntry(registry, QStringLiteral("/usr/local/bin/camwarden")))
        << "an entry already gone counts as removed";
}

TEST(StartUpTest, FailedWriteIsReported) {
    FakeRegistry registry;
    registry.failOpen = ErrorAccessDenied;
    EXPECT_FALSE(mStartUp::AddStartupEntry(registry, QStringLiteral("/usr/bin/camwarden")));
    registry.failOpen.reset();
    registry.failSet = ErrorAccessDenied;
    EXPECT_FALSE(mStartUp::AddStartupEntry(registry, QStringLiteral("/usr/bin/camwarden")));
    EXPECT_FALSE(mStartUp::AddStartupEntry(registry, QString())) << "nothing to register";
    EXPECT_EQ(registry.valueCount(), 0u);

    registry.failSet.reset();
    ASSERT_TRUE(mStartUp::AddStartupEntry(registry, QStringLiteral("/usr/bin/camwarden")));
    registry.failDelete = ErrorAccessDenied;
    EXPECT_FALSE(mStartUp::RemoveStartupEntry(registry, QStringLiteral("/usr/bin/camwarden")));
}

}  // namespace
}  // namespace camwarden
