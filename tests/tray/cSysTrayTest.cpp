#include "tray/cSysTray.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include "app/VbError.h"
#include "support/FakeTrayShell.h"

namespace camwarden {
namespace {

using testing::FakeBalloonWait;
using testing::FakeTrayShell;

QIcon SolidIcon(Qt::GlobalColor color) {
    QPixmap p(16, 16);
    p.fill(color);
    return QIcon(p);
}

QPixmap SolidPixmap(Qt::GlobalColor color) {
    QPixmap p(16, 16);
    p.fill(color);
    return p;
}

class TrayTest : public ::testing::Test {
protected:
    // A tray whose balloon waits end at once, after running `during`.
    std::unique_ptr<cSysTray> MakeTray(std::function<void()> during = {}) {
        return std::make_unique<cSysTray>(
            shell, std::make_unique<FakeBalloonWait>(waits, std::move(during)));
    }

    FakeTrayShell shell;
    std::shared_ptr<FakeBalloonWait::Log> waits = std::make_shared<FakeBalloonWait::Log>();
};

TEST_F(TrayTest, AddingTwiceAddsOnceAndRemovingWhatWasNeverAddedOnlyStores) {
    auto tray = MakeTray();
    tray->SetInTray(false);
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(tray->InTray());

    tray->SetInTray(true);
    tray->SetInTray(true);
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].message, NotifyIconMessage::Add);
    EXPECT_TRUE(tray->IconAdded());
    EXPECT_TRUE(tray->InTray());

    tray->SetInTray(false);
    ASSERT_EQ(shell.calls.size(), 2u);
    EXPECT_EQ(shell.calls[1].message, NotifyIconMessage::Delete);
    EXPECT_EQ(shell.calls[1].data.uID, 0u);
    EXPECT_FALSE(tray->IconAdded());
    EXPECT_FALSE(shell.iconShown());
}

TEST_F(TrayTest, AddCarriesIconAndTipOnlyWhenTheyAreSet) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    EXPECT_EQ(shell.calls[0].data.uFlags, Nif::Message);
    EXPECT_EQ(shell.calls[0].data.uCallbackMessage, TrayCallbackMessage);
    EXPECT_TRUE(shell.calls[0].data.hIcon.isNull());
    EXPECT_TRUE(shell.calls[0].data.szTip.isEmpty());
    tray->SetInTray(false);
    shell.clear();

    tray->SetTrayIcon(Picture::FromIcon(SolidIcon(Qt::blue)));
    tray->SetTrayTip(QStringLiteral("Camwarden"));
    EXPECT_TRUE(shell.calls.empty()) << "nothing is sent while out of the tray";
    tray->SetInTray(true);
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].data.uFlags, Nif::Message | Nif::Icon | Nif::Tip);
    EXPECT_FALSE(shell.calls[0].data.hIcon.isNull());
    EXPECT_EQ(shell.calls[0].data.szTip, QStringLiteral("Camwarden"));
}

TEST_F(TrayTest, OnlyAnIconReplacesTheTrayIcon) {
    auto tray = MakeTray();
    const QIcon first = SolidIcon(Qt::blue);
    tray->SetTrayIcon(Picture::FromIcon(first));
    tray->SetInTray(true);
    shell.clear();

    tray->SetTrayIcon(Picture::FromBitmap(SolidPixmap(Qt::red)));
    tray->SetTrayIcon(Picture{});
    tray->SetTrayIcon(Picture::FromIcon(QIcon()));
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_EQ(tray->TrayIcon().type, Picture::Type::Icon);
    EXPECT_EQ(tray->TrayIcon().icon.cacheKey(), first.cacheKey());
    EXPECT_EQ(tray->OwnPicture().icon.cacheKey(), first.cacheKey());

    const QIcon second = SolidIcon(Qt::green);
    tray->SetTrayIcon(Picture::FromIcon(second));
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].message, NotifyIconMessage::Modify);
    EXPECT_EQ(shell.calls[0].data.uFlags, Nif::Icon);
    EXPECT_EQ(shell.current().hIcon.cacheKey(), second.cacheKey());
    EXPECT_EQ(tray->OwnPicture().icon.cacheKey(), second.cacheKey());
}

TEST_F(TrayTest, TipChangesAreSentEvenWhenEmptyAndCutToTheirField) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    shell.clear();

    tray->SetTrayTip(QString());
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].message, NotifyIconMessage::Modify);
    EXPECT_EQ(shell.calls[0].data.uFlags, Nif::Tip);
    EXPECT_TRUE(shell.calls[0].data.szTip.isEmpty());

    const QString longTip(200, QLatin1Char('t'));
    tray->SetTrayTip(longTip);
    EXPECT_EQ(shell.calls.back().data.szTip, QString(127, QLatin1Char('t')));
    EXPECT_EQ(tray->TrayTip(), longTip) << "the property keeps the whole text";
}

TEST(FitTrayTextTest, CutsToCapacityWithoutSplittingACharacter) {
    EXPECT_EQ(FitTrayText(QStringLiteral("abc"), 3), QStringLiteral("abc"));
    EXPECT_EQ(FitTrayText(QStringLiteral("abcd"), 3), QStringLiteral("abc"));
    // "ab" then U+1F600, which takes two UTF-16 units.
    const QString face = QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600");
    EXPECT_EQ(FitTrayText(face, 3), QStringLiteral("ab"));
    EXPECT_EQ(FitTrayText(face, 4), face);
}

TEST_F(TrayTest, StoredConfigurationAddsThenSetsIconThenTip) {
    auto tray = MakeTray();
    tray->LoadConfiguration({true, Picture::FromIcon(SolidIcon(Qt::blue)), QString()});
    ASSERT_EQ(shell.calls.size(), 3u);
    EXPECT_EQ(shell.calls[0].message, NotifyIconMessage::Add);
    EXPECT_EQ(shell.calls[0].data.uFlags, Nif::Message);
    EXPECT_EQ(shell.calls[1].message, NotifyIconMessage::Modify);
    EXPECT_EQ(shell.calls[1].data.uFlags, Nif::Icon);
    EXPECT_EQ(shell.calls[2].message, NotifyIconMessage::Modify);
    EXPECT_EQ(shell.calls[2].data.uFlags, Nif::Tip);
    EXPECT_TRUE(shell.calls[2].data.szTip.isEmpty());

    const TrayConfiguration saved = tray->SaveConfiguration();
    EXPECT_EQ(saved.InTray, true);
    EXPECT_EQ(saved.TrayTip, QString());
    ASSERT_TRUE(saved.TrayIcon.has_value());
    EXPECT_EQ(saved.TrayIcon->type, Picture::Type::Icon);
}

TEST_F(TrayTest, MissingKeysTakeTheirDefaults) {
    auto tray = MakeTray();
    tray->LoadConfiguration({});
    EXPECT_FALSE(tray->InTray());
    EXPECT_EQ(tray->TrayTip(), QStringLiteral("Telnet Server"));
    EXPECT_TRUE(tray->TrayIcon().IsEmpty());
    EXPECT_TRUE(shell.calls.empty());

    auto fresh = MakeTray();
    fresh->InitConfiguration();
    EXPECT_FALSE(fresh->InTray());
    EXPECT_EQ(fresh->TrayTip(), QStringLiteral("Telnet Server"));
}

struct Event {
    QString name;
    int button;
    int id;
    bool operator==(const Event&) const = default;
};

void Record(cSysTray& tray, std::vector<Event>& events) {
    QObject::connect(&tray, &cSysTray::MouseMove, [&events](int id) {
        events.push_back({QStringLiteral("Move"), 0, id});
    });
    QObject::connect(&tray, &cSysTray::MouseDown, [&events](int b, int id) {
        events.push_back({QStringLiteral("Down"), b, id});
    });
    QObject::connect(&tray, &cSysTray::MouseUp, [&events](int b, int id) {
        events.push_back({QStringLiteral("Up"), b, id});
    });
    QObject::connect(&tray, &cSysTray::MouseDblClick, [&events](int b, int id) {
        events.push_back({QStringLiteral("DblClick"), b, id});
    });
}

TEST_F(TrayTest, ShellReportsBecomeEventsInTheOrderSent) {
    auto tray = MakeTray();
    std::vector<Event> events;
    Record(*tray, events);
    tray->SetInTray(true);

    for (std::uint32_t code : {512u, 513u, 514u, 515u, 514u, 516u, 517u, 518u}) shell.Send(code);
    const std::vector<Event> expected{
        {QStringLiteral("Move"), 0, 0}, {QStringLiteral("Down"), 1, 0},
        {QStringLiteral("Up"), 1, 0},   {QStringLiteral("DblClick"), 1, 0},
        {QStringLiteral("Up"), 1, 0},   {QStringLiteral("Down"), 2, 0},
        {QStringLiteral("Up"), 2, 0},   {QStringLiteral("DblClick"), 2, 0},
    };
    EXPECT_EQ(events, expected);
}

TEST_F(TrayTest, OtherReportsAndOtherMessagesRaiseNothing) {
    auto tray = MakeTray();
    std::vector<Event> events;
    Record(*tray, events);
    tray->SetInTray(true);

    shell.Send(519);   // middle button down
    shell.Send(520);   // middle button up
    shell.Send(1026);  // balloon shown
    shell.Send(0);
    // A restarted shell announces itself with a message of its own.
    shell.SendMessage(0xC000, 0, 513);
    shell.SendMessage(TrayCallbackMessage + 1, 0, 513);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(shell.calls.size(), 1u) << "the icon is not added again";
}

TEST_F(TrayTest, RemovedIconReportsNothingAndGivesBackThePreviousProcedure) {
    std::vector<std::uint32_t> seenByPrevious;
    shell.SetReceiver([&](std::uint32_t uMsg, std::uint32_t, std::uint32_t lParam) {
        seenByPrevious.push_back(uMsg == TrayCallbackMessage ? lParam : uMsg);
    });
    auto tray = MakeTray();
    std::vector<Event> events;
    Record(*tray, events);
    tray->SetInTray(true);

    shell.Send(514);
    shell.SendMessage(0x10, 0, 0);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(seenByPrevious, (std::vector<std::uint32_t>{514, 0x10}))
        << "every message goes on to the previous procedure";

    tray->SetInTray(false);
    shell.Send(514);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(seenByPrevious.size(), 3u) << "the previous procedure is back in place";
}

TEST_F(TrayTest, HandlerMayRemoveTheIconFromInsideAnEvent) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    QObject::connect(tray.get(), &cSysTray::MouseUp, [&] { tray->SetInTray(false); });
    shell.Send(514);
    EXPECT_FALSE(tray->IconAdded());
    EXPECT_FALSE(shell.hasReceiver());
}

TEST_F(TrayTest, DestroyingTheComponentTakesItsIconOut) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    shell.clear();
    tray.reset();
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].message, NotifyIconMessage::Delete);
    EXPECT_FALSE(shell.iconShown());
    EXPECT_FALSE(shell.hasReceiver());

    auto outside = MakeTray();
    outside.reset();
    EXPECT_EQ(shell.calls.size(), 1u) << "nothing to remove when it was never added";
}

// ----- balloons -----

TEST_F(TrayTest, BalloonWaitsItsTimeAndThenIsTakenDown) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    shell.clear();

    tray->ShowBalloon(QStringLiteral("text"), QStringLiteral("Camwarden"), 5, false);
    ASSERT_EQ(waits->limits.size(), 1u);
    EXPECT_EQ(waits->limits[0], std::chrono::milliseconds(5000));
    ASSERT_EQ(shell.calls.size(), 2u);
    const NotifyIconData& shown = shell.calls[0].data;
    EXPECT_EQ(shell.calls[0].message, NotifyIconMessage::Modify);
    EXPECT_EQ(shown.uFlags, Nif::Info);
    EXPECT_EQ(shown.szInfo, QStringLiteral("text"));
    EXPECT_EQ(shown.szInfoTitle, QStringLiteral("Camwarden"));
    EXPECT_EQ(shown.uTimeout, 5000u);
    EXPECT_EQ(shown.dwInfoFlags, 0u);

    const NotifyIconData& takenDown = shell.calls[1].data;
    EXPECT_EQ(shell.calls[1].message, NotifyIconMessage::Modify);
    EXPECT_EQ(takenDown.uFlags, Nif::Info);
    EXPECT_TRUE(takenDown.szInfo.isEmpty());
    EXPECT_TRUE(takenDown.szInfoTitle.isEmpty());
    EXPECT_EQ(takenDown.uTimeout, 5000u);
    EXPECT_TRUE(tray->BalloonShowing()) << "the take-down does not reset the flag";
}

class BalloonEndTest : public TrayTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(BalloonEndTest, ShellNoticeEndsTheWaitWithoutTakeDown) {
    std::unique_ptr<cSysTray> tray;
    tray = MakeTray([&] { shell.Send(GetParam()); });
    tray->SetInTray(true);
    shell.clear();

    tray->ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), 5, false);
    EXPECT_EQ(shell.calls.size(), 1u);
    EXPECT_FALSE(tray->BalloonShowing());
    EXPECT_GE(waits->stops, 1);
}

INSTANTIATE_TEST_SUITE_P(HideTimeoutClick, BalloonEndTest, ::testing::Values(1027u, 1028u, 1029u));

TEST_F(TrayTest, BalloonWithoutTimeReturnsAtOnceAndStaysUp) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    shell.clear();
    tray->ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), 0, false);
    tray->ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), -3, false);
    ASSERT_EQ(shell.calls.size(), 2u);
    EXPECT_EQ(shell.calls[0].data.uTimeout, 0u);
    EXPECT_EQ(shell.calls[1].data.uTimeout, 0u);
    EXPECT_FALSE(shell.calls[1].data.szInfo.isEmpty()) << "no take-down follows";
    EXPECT_TRUE(waits->limits.empty());
    EXPECT_TRUE(tray->BalloonShowing());
}

TEST_F(TrayTest, ShowOnceShowsOnlyTheFirstBalloonOfTheComponentsLife) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    shell.clear();
    tray->ShowBalloon(QStringLiteral("a"), QStringLiteral("t"), 0, true);
    EXPECT_EQ(tray->BalloonOnceCount(), 1);
    tray->ShowBalloon(QStringLiteral("b"), QStringLiteral("t"), 0, true);
    tray->ShowBalloon(QStringLiteral("c"), QStringLiteral("t"), 0, true);
    EXPECT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(tray->BalloonOnceCount(), 1);

    tray->ShowBalloon(QStringLiteral("d"), QStringLiteral("t"), 0, false);
    EXPECT_EQ(shell.calls.size(), 2u) << "balloons without ShowOnce still show";
    EXPECT_EQ(tray->BalloonOnceCount(), 1);
}

TEST_F(TrayTest, BalloonIsSentEvenOutsideTheTrayAndTextsAreCut) {
    auto tray = MakeTray();
    tray->ShowBalloon(QString(300, QLatin1Char('i')), QString(100, QLatin1Char('h')), 0, false);
    ASSERT_EQ(shell.calls.size(), 1u);
    EXPECT_EQ(shell.calls[0].message, NotifyIconMessage::Modify);
    EXPECT_EQ(shell.calls[0].data.szInfo.size(), 255);
    EXPECT_EQ(shell.calls[0].data.szInfoTitle.size(), 63);
}

TEST_F(TrayTest, TimeTooLongForMillisecondsFailsBeforeAnythingIsSent) {
    auto tray = MakeTray();
    tray->SetInTray(true);
    shell.clear();
    try {
        tray->ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), 2147484, false);
        FAIL() << "no overflow raised";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number, 6);
        EXPECT_EQ(e.description, QStringLiteral("Overflow"));
    }
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(tray->BalloonShowing());

    // The largest time that fits still works.
    tray->ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), 2147483, true);
    EXPECT_EQ(shell.calls[0].data.uTimeout, 2147483000u);
    // A ShowOnce balloon already shown returns before the time is looked at.
    EXPECT_NO_THROW(
        tray->ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), 2147484, true));
}

// ----- the real wait -----

TEST(EventLoopBalloonWaitTest, KeepsTheProgramRunningAndEndsEarlyOnANotice) {
    FakeTrayShell shell;
    shell.answerBalloonsWith = 1029;
    cSysTray tray(shell);
    tray.SetInTray(true);
    shell.clear();

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);

    QElapsedTimer elapsed;
    elapsed.start();
    tray.ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), 60, false);
    EXPECT_LT(elapsed.elapsed(), 30000) << "the click ended the wait";
    EXPECT_EQ(shell.calls.size(), 1u) << "no take-down after a click";
    EXPECT_FALSE(tray.BalloonShowing());

    // While a second balloon waits, timers keep ticking.
    shell.answerBalloonsWith.reset();
    ticks = 0;
    QTimer::singleShot(50, [&] { shell.Send(1028); });
    tray.ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), 60, false);
    EXPECT_GT(ticks, 0);
    EXPECT_EQ(shell.calls.size(), 2u);
}

TEST(EventLoopBalloonWaitTest, ReturnsWhenTheLimitHasPassed) {
    EventLoopBalloonWait wait;
    QElapsedTimer elapsed;
    elapsed.start();
    wait.Wait(std::chrono::milliseconds(40));
    EXPECT_GE(elapsed.elapsed(), 35);

    // A stop reaches a wait nested inside another one, and the outer too.
    bool innerDone = false;
    QTimer::singleShot(10, [&] {
        QTimer::singleShot(10, [&] { wait.Stop(); });
        wait.Wait(std::chrono::minutes(5));
        innerDone = true;
    });
    elapsed.restart();
    wait.Wait(std::chrono::minutes(5));
    EXPECT_TRUE(innerDone);
    EXPECT_LT(elapsed.elapsed(), 60000);
}

}  // namespace
}  // namespace camwarden
