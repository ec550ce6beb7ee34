#include "app/SingleInstance.h"
#include "app/Timer.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
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

TEST(Timer, ReEnablingARunningTimerKeepsItsPeriod) {
    Timer t(60, true);
    QSignalSpy ticks(&t, &Timer::Tick);
    QElapsedTimer clock;
    clock.start();
    // Re-enabling every 20 ms would starve a timer that restarted each time.
    while (clock.elapsed() < 400) {
        t.SetEnabled(true);
        QTest::qWait(20);
    }
    EXPECT_GE(ticks.count(), 2);
}

TEST(SingleInstance, SecondStartIsRefusedAndAsksTheFirstToShow) {
    QTemporaryDir runtime;
    SingleInstance first(runtime.path());
    ASSERT_TRUE(first.Acquire());
    QSignalSpy shown(&first, &SingleInstance::ShowRequested);

    SingleInstance second(runtime.path());
    EXPECT_FALSE(second.Acquire());
    second.AskRunningToShow();
    EXPECT_TRUE(shown.wait(2000));
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
