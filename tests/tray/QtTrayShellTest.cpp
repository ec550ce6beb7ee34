#include "platform/qt/QtTrayShell.h"

#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTest>

#include "tray/QuilloryIcon.h"
#include "tray/cSysTray.h"

namespace camwarden {
namespace {

struct Received {
    std::uint32_t uMsg;
    std::uint32_t wParam;
    std::uint32_t lParam;
};

class QtTrayShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        shell.SetReceiver([this](std::uint32_t uMsg, std::uint32_t wParam, std::uint32_t lParam) {
            received.push_back({uMsg, wParam, lParam});
        });
    }

    void Add() {
        NotifyIconData add;
        add.uFlags = Nif::Message;
        add.uCallbackMessage = TrayCallbackMessage;
        ASSERT_TRUE(shell.NotifyIcon(NotifyIconMessage::Add, add));
    }

    std::vector<std::uint32_t> Codes() const {
        std::vector<std::uint32_t> codes;
        for (const Received& r : received) {
            EXPECT_EQ(r.uMsg, TrayCallbackMessage);
            EXPECT_EQ(r.wParam, 0u);
            codes.push_back(r.lParam);
        }
        return codes;
    }

    QtTrayShell shell;
    std::vector<Received> received;
};

TEST_F(QtTrayShellTest, ClicksArriveAsTheButtonMessagesAShellSends) {
    Add();
    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{513, 514}));

    received.clear();
    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{516, 517}));

    // Qt reports a double click as a click followed by the double click.
    received.clear();
    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::Trigger);
    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{513, 514, 515, 514}));

    received.clear();
    Q_EMIT shell.Icon()->messageClicked();
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{1029}));
}

TEST_F(QtTrayShellTest, NothingIsReportedForAnIconNotInTheTray) {
    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(received.empty());

    Add();
    NotifyIconData remove;
    ASSERT_TRUE(shell.NotifyIcon(NotifyIconMessage::Delete, remove));
    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(received.empty());
}

TEST_F(QtTrayShellTest, IconAppearsOnceItHasAPictureAndGoesOnDelete) {
    NotifyIconData modify;
    modify.uFlags = Nif::Tip;
    modify.szTip = QStringLiteral("tip");
    EXPECT_FALSE(shell.NotifyIcon(NotifyIconMessage::Modify, modify)) << "not added yet";

    Add();
    NotifyIconData second;
    EXPECT_FALSE(shell.NotifyIcon(NotifyIconMessage::Add, second)) << "already added";
    EXPECT_FALSE(shell.Icon()->isVisible());

    NotifyIconData icon;
    icon.uFlags = Nif::Icon;
    icon.hIcon = QuilloryIcon();
    EXPECT_TRUE(shell.NotifyIcon(NotifyIconMessage::Modify, icon));
    EXPECT_TRUE(shell.Icon()->isVisible());
    EXPECT_TRUE(shell.NotifyIcon(NotifyIconMessage::Modify, modify));
    EXPECT_EQ(shell.Icon()->toolTip(), QStringLiteral("tip"));

    EXPECT_TRUE(shell.NotifyIcon(NotifyIconMessage::Delete, NotifyIconData{}));
    EXPECT_FALSE(shell.Icon()->isVisible());
    EXPECT_FALSE(shell.NotifyIcon(NotifyIconMessage::Delete, NotifyIconData{}));
}

TEST_F(QtTrayShellTest, BalloonReportsItsTimeoutUnlessTakenDown) {
    Add();
    NotifyIconData balloon;
    balloon.uFlags = Nif::Info;
    balloon.szInfo = QStringLiteral("text");
    balloon.szInfoTitle = QStringLiteral("title");
    balloon.uTimeout = 30;
    ASSERT_TRUE(shell.NotifyIcon(NotifyIconMessage::Modify, balloon));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !received.empty(); }, 5000));
    EXPECT_EQ(Codes(), (std::vector<std::uint32_t>{1028}));

    received.clear();
    ASSERT_TRUE(shell.NotifyIcon(NotifyIconMessage::Modify, balloon));
    NotifyIconData takeDown = balloon;
    takeDown.szInfo.clear();
    takeDown.szInfoTitle.clear();
    ASSERT_TRUE(shell.NotifyIcon(NotifyIconMessage::Modify, takeDown));
    QTest::qWait(100);
    EXPECT_TRUE(received.empty());
}

TEST(QtTrayShellWithTrayTest, MiddleButtonRaisesNoEventAndClicksDo) {
    QtTrayShell shell;
    cSysTray tray(shell);
    QSignalSpy downs(&tray, &cSysTray::MouseDown);
    QSignalSpy ups(&tray, &cSysTray::MouseUp);
    QSignalSpy doubles(&tray, &cSysTray::MouseDblClick);
    tray.LoadConfiguration({true, Picture::FromIcon(QuilloryIcon()), QString()});

    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(downs.count() + ups.count() + doubles.count(), 0);

    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::Context);
    ASSERT_EQ(ups.count(), 1);
    EXPECT_EQ(ups.at(0).at(0).toInt(), 2);
    EXPECT_EQ(downs.count(), 1);

    tray.SetInTray(false);
    EXPECT_FALSE(shell.Icon()->isVisible());
    Q_EMIT shell.Icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(ups.count(), 1);
}

}  // namespace
}  // namespace camwarden
