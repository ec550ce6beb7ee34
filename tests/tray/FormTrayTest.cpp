#include "support/FormFixture.h"

#include <QCheckBox>
#include <QTest>

namespace camwarden::testing {
namespace {

using FormTray = FormFixture;

int Balloons(const FakeTrayShell& shell) {
    int n = 0;
    for (const auto& c : shell.calls)
        if ((c.data.uFlags & Nif::Info) && !c.data.szInfo.isEmpty()) ++n;
    return n;
}

TEST_F(FormTray, IconIsInTheTrayFromTheStartWithoutATip) {
    MakeForm();
    ASSERT_GE(tray->calls.size(), 3u);
    EXPECT_EQ(tray->calls[0].message, NotifyIconMessage::Add);
    EXPECT_EQ(tray->calls[0].data.uFlags, Nif::Message);
    EXPECT_EQ(tray->calls[1].data.uFlags, Nif::Icon);
    EXPECT_EQ(tray->calls[2].data.uFlags, Nif::Tip);
    EXPECT_TRUE(tray->iconShown());
    EXPECT_TRUE(tray->current().szTip.isEmpty());
}

TEST_F(FormTray, FirstMinimiseHidesWithANoticeAndLaterOnesAreSilent) {
    Form1& f = Load();
    f.ShowAfterLoad();
    f.setWindowState(Qt::WindowMinimized);
    f.Form_Resize();
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(state.HiddenInTray);
    ASSERT_EQ(Balloons(*tray), 1);
    const auto& balloon = tray->calls.back().data.szInfo.isEmpty()
                              ? tray->calls[tray->calls.size() - 2].data
                              : tray->calls.back().data;
    EXPECT_EQ(balloon.szInfoTitle, QStringLiteral("Camwarden"));
    EXPECT_EQ(balloon.szInfo, QStringLiteral("has been minimized to the system tray.\r\nClick on "
                                             "the blue 'Q' icon (Q for Quillory) to bring the "
                                             "software back."));
    EXPECT_EQ(balloon.uTimeout, 5000u);

    tray->Send(TrayNotification::RightButtonDown);
    tray->Send(TrayNotification::RightButtonUp);
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(state.HiddenInTray);
    EXPECT_FALSE(f.windowState() & Qt::WindowMinimized) << "it comes back in normal state";

    f.setWindowState(Qt::WindowMinimized);
    f.Form_Resize();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(Balloons(*tray), 1);
    tray->Send(TrayNotification::LeftButtonDown);
    tray->Send(TrayNotification::LeftButtonUp);
    EXPECT_TRUE(f.isVisible());
}

void Click(FakeTrayShell& shell) {
    shell.Send(TrayNotification::LeftButtonDown);
    shell.Send(TrayNotification::LeftButtonUp);
}

TEST_F(FormTray, WhereMinimisingIsUnseenTheIconHidesAndRestoresTheWindow) {
    platform.minimiseSeen = false;
    Form1& f = Load();
    f.ShowAfterLoad();
    Click(*tray);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 2000));
    EXPECT_TRUE(state.HiddenInTray);
    EXPECT_EQ(Balloons(*tray), 1);

    Click(*tray);
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(state.HiddenInTray);

    Click(*tray);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 2000));
    EXPECT_EQ(Balloons(*tray), 1) << "the notice comes once a run";
}

TEST_F(FormTray, TrayMenuShowsOrHidesAndQuitsLikeTheCloseButton) {
    Form1& f = Load();
    f.ShowAfterLoad();
    ASSERT_EQ(tray->menu, f.TrayMenu);
    Click(*tray);
    EXPECT_TRUE(f.isVisible())
        << "a click on a shown window leaves it shown where minimising is seen";

    EXPECT_EQ(f.TrayShowOrHide->text(), QStringLiteral("Hide to tray"));
    f.TrayShowOrHide->trigger();
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(state.HiddenInTray);
    EXPECT_EQ(f.TrayShowOrHide->text(), QStringLiteral("Show"));
    f.TrayShowOrHide->trigger();
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(state.HiddenInTray);

    const QStringList writes = settings->writes;
    EXPECT_EQ(f.TrayQuit->text(), QStringLiteral("Quit"));
    f.TrayQuit->trigger();
    EXPECT_TRUE(f.Unloaded());
    EXPECT_FALSE(tray->iconShown());
    EXPECT_EQ(settings->writes, writes) << "quitting saves nothing of its own";
}

TEST_F(FormTray, WithoutATrayTheWindowJustMinimises) {
    tray->trayAvailable = false;
    Form1& f = Load();
    f.ShowAfterLoad();
    f.setWindowState(Qt::WindowMinimized);
    f.Form_Resize();
    EXPECT_FALSE(state.HiddenInTray);
    EXPECT_TRUE(f.windowState() & Qt::WindowMinimized);
    EXPECT_EQ(Balloons(*tray), 0);
}

// Hidden with no tray left to come back through, the window shows; then,
// trayless, it minimises like any window until the tray is back.
TEST_F(FormTray, TheWindowShowsWhenTheTrayGoesWhileItIsHidden) {
    Form1& f = Load();
    f.ShowAfterLoad();
    tray->SetTrayAvailable(false);
    EXPECT_TRUE(f.isVisible()) << "a shown window stays as it is";
    tray->SetTrayAvailable(true);
    f.TrayShowOrHide->trigger();
    ASSERT_TRUE(state.HiddenInTray);

    tray->SetTrayAvailable(false);
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(state.HiddenInTray);
    EXPECT_EQ(f.TrayShowOrHide->text(), QStringLiteral("Hide to tray"));
    f.setWindowState(Qt::WindowMinimized);
    f.Form_Resize();
    EXPECT_FALSE(state.HiddenInTray);
}

TEST_F(FormTray, StartInTrayStartsHiddenWithTheNotice) {
    settings->Preset("Minimized", "On");
    Form1& f = Load();
    f.ShowAfterLoad();
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(state.HiddenInTray);
    EXPECT_EQ(Balloons(*tray), 1);
}

TEST_F(FormTray, ShutdownRemovesTheIcon) {
    Form1& f = Load();
    f.setWindowState(Qt::WindowMinimized);
    f.Form_Resize();
    f.close();
    EXPECT_FALSE(tray->iconShown());
    EXPECT_EQ(tray->calls.back().message, NotifyIconMessage::Delete);
}

TEST_F(FormTray, StartupBoxWritesTheEntryAndClearingItClearsStartInTray) {
    Form1& f = Load();
    f.Check3->setChecked(true);
    EXPECT_EQ(settings->Stored("Windows Startup"), QStringLiteral("On"));
    EXPECT_EQ(registry->valueCount(), 1u);
    EXPECT_FALSE(f.Check8->isHidden());
    f.Check8->setChecked(true);
    EXPECT_EQ(settings->Stored("Minimized"), QStringLiteral("On"));

    f.Check3->setChecked(false);
    EXPECT_FALSE(f.Check8->isChecked());
    EXPECT_TRUE(f.Check8->isHidden());
    EXPECT_EQ(settings->Stored("Minimized"), QStringLiteral("Off"));
    EXPECT_EQ(settings->Stored("Windows Startup"), QStringLiteral("Off"));
    EXPECT_EQ(registry->valueCount(), 0u);

    f.Check3->setChecked(true);
    EXPECT_FALSE(f.Check8->isHidden());
    EXPECT_FALSE(f.Check8->isChecked()) << "start-in-tray must be chosen anew";
}

TEST_F(FormTray, RestoringTheBoxesAtStartWritesNoEntry) {
    settings->Preset("Windows Startup", "On");
    Form1& f = Load();
    EXPECT_TRUE(f.Check3->isChecked());
    EXPECT_TRUE(registry->opens.empty());
    EXPECT_FALSE(settings->writes.contains("Windows Startup=On"));
}

TEST_F(FormTray, FailedEntryTellsTheUserAndUnticksTheBox) {
    registry->failSet = ErrorAccessDenied;
    Form1& f = Load();
    f.Check3->setChecked(true);
    EXPECT_FALSE(f.Check3->isChecked());
    EXPECT_EQ(settings->Stored("Windows Startup"), QStringLiteral("Off"));
    EXPECT_EQ(dialogs->Texts(), QStringList{QLatin1String(kStartupEntryFailed)});
}

}  // namespace
}  // namespace camwarden::testing
