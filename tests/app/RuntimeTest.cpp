#include "app/SingleInstance.h"
#include "app/Timer.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace camwarden {
namespace {

TEST(Timer, TicksOnlyWhenEnabledWithAnInterval) {
    Timer t(0, true);
    EXPECT_FALSE(t.IsTicking());
    t.SetInterval(1000);
    EXPECT_TRUE(t.IsTicking());
    t.SetEnabled(false);
    EXPECT_FALSE(t.IsTicking());
    t.SetEnabled(true);
    EXPECT_TRUE(t.IsTicking());
    t.SetInterval(0);
    EXPECT_FALSE(t.IsTicking());
    EXPECT_TRUE(t.Enabled());
}

// A restarted period would show as more time left than before; a slow
// machine only makes the gap wider.
TEST(Timer, ReEnablingARunningTimerKeepsItsPeriod) {
    Timer t(60000, true);
    QTest::qSleep(50);
    const int left = t.RemainingMs();
    ASSERT_GT(left, 0);
    ASSERT_LE(left, 60000 - 50);
    t.SetEnabled(true);
    EXPECT_LE(t.RemainingMs(), left);
    t.SetInterval(60000);
    EXPECT_LE(t.RemainingMs(), left) << "the same interval again changes nothing";
}

TEST(SingleInstance, SecondStartIsRefusedAndAsksTheFirstToShow) {
    QTemporaryDir runtime;
    SingleInstance first(runtime.path());
    ASSERT_TRUE(first.Acquire());
    QSignalSpy shown(&first, &SingleInstance::ShowRequested);

    SingleInstance second(runtime.path());
    EXPECT_FALSE(second.Acquire());
    second.AskRunningToShow();
    ASSERT_TRUE(shown.wait(2000));
    EXPECT_EQ(shown.takeFirst().at(0).toString(), QString());

    // The launcher's token travels along, so Wayland raises the window.
    second.AskRunningToShow(QStringLiteral("launcher_token-42"));
    ASSERT_TRUE(shown.wait(2000));
    EXPECT_EQ(shown.takeFirst().at(0).toString(), QStringLiteral("launcher_token-42"));

    // It ends up in the environment: anything but plain text is dropped.
    second.AskRunningToShow(QStringLiteral("a\u0001b"));
    ASSERT_TRUE(shown.wait(2000));
    EXPECT_EQ(shown.takeFirst().at(0).toString(), QString());
}

// A start at log-on must not end silently because the runtime folder is
// unusable: it runs, and says single-instance cannot be guaranteed.
TEST(SingleInstance, NoLockPossibleRunsAnywayAndSaysWhy) {
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    SingleInstance instance(plain.fileName() + QStringLiteral("/runtime"));
    EXPECT_TRUE(instance.Acquire());
    EXPECT_FALSE(instance.Problem().isEmpty());

    SingleInstance usual(dir.path());
    EXPECT_TRUE(usual.Acquire());
    EXPECT_TRUE(usual.Problem().isEmpty());
}

// Two runtime folders, one profile (a home shared by two machines, or a
// runtime folder set differently): the second start is refused and says
// why, and never asks a copy it cannot reach.
TEST(SingleInstance, OneProfileIsHeldAcrossRuntimeFolders) {
    QTemporaryDir profile;
    QTemporaryDir here;
    QTemporaryDir there;
    SingleInstance first(here.path(), profile.path());
    ASSERT_TRUE(first.Acquire());
    SingleInstance second(there.path(), profile.path());
    EXPECT_FALSE(second.Acquire());
    EXPECT_TRUE(second.ProfileTaken().contains(QStringLiteral("camwarden-profile.lock")))
        << second.ProfileTaken().toStdString();
    // Refused, it holds nothing: the first's runtime lock is free for others.
    SingleInstance third(there.path(), there.path());
    EXPECT_TRUE(third.Acquire());
    first.Release();
    SingleInstance again(here.path(), profile.path());
    EXPECT_TRUE(again.Acquire());
}

TEST(SingleInstance, FreeAgainOnceTheFirstHasEnded) {
    QTemporaryDir runtime;
    {
        SingleInstance first(runtime.path());
        ASSERT_TRUE(first.Acquire());
    }
    SingleInstance next(runtime.path());
    EXPECT_TRUE(next.Acquire());
}

}  // namespace
}  // namespace camwarden
