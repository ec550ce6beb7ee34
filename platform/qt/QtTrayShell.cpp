#include "platform/qt/QtTrayShell.h"

#include <QLoggingCategory>
#include <exception>

namespace camwarden {

namespace {
Q_LOGGING_CATEGORY(lcTray, "camwarden.tray")

// A balloon sent without a time stays up as long as the shell's own default.
constexpr int DefaultBalloonMs = 10000;
}  // namespace

QtTrayShell::QtTrayShell(QObject* parent) : QObject(parent) {
    balloonTimeout_.setSingleShot(true);
    connect(&balloonTimeout_, &QTimer::timeout, this,
            [this] { Notify(TrayNotification::BalloonTimeout); });
    connect(&icon_, &QSystemTrayIcon::activated, this, &QtTrayShell::OnActivated);
    connect(&icon_, &QSystemTrayIcon::messageClicked, this, [this] {
        balloonTimeout_.stop();
        Notify(TrayNotification::BalloonUserClick);
    });
}

QtTrayShell::~QtTrayShell() {
    receiver_ = {};
    icon_.hide();
}

bool QtTrayShell::NotifyIcon(NotifyIconMessage message, const NotifyIconData& data) {
    switch (message) {
        case NotifyIconMessage::Add:
            if (added_) return false;
            added_ = true;
            id_ = data.uID;
            callbackMessage_ = (data.uFlags & Nif::Message) ? data.uCallbackMessage : 0;
            Apply(data);
            return true;
        case NotifyIconMessage::Modify:
            if (!added_ || data.uID != id_) return false;
            Apply(data);
            return true;
        case NotifyIconMessage::Delete:
            if (!added_ || data.uID != id_) return false;
            balloonTimeout_.stop();
            icon_.hide();
            added_ = false;
            callbackMessage_ = 0;
            return true;
    }
    return false;
}

void QtTrayShell::Apply(const NotifyIconData& data) {
    if (data.uFlags & Nif::Icon) icon_.setIcon(data.hIcon);
    if (data.uFlags & Nif::Tip) icon_.setToolTip(data.szTip);
    // Qt cannot show an icon without a picture; it appears once one is set.
    ShowIfReady();
    if (data.uFlags & Nif::Info) {
        if (data.szInfo.isEmpty() && data.szInfoTitle.isEmpty()) {
            // An empty balloon takes the current one down; Qt's own balloon
            // does the same for an empty message.
            balloonTimeout_.stop();
            icon_.showMessage(QString(), QString(), QIcon(), 1);
            return;
        }
        const int ms = data.uTimeout > 0 ? static_cast<int>(data.uTimeout) : DefaultBalloonMs;
        icon_.showMessage(data.szInfoTitle, data.szInfo, QSystemTrayIcon::NoIcon, ms);
        balloonTimeout_.start(ms);
    }
}

void QtTrayShell::ShowIfReady() {
    if (added_ && !icon_.icon().isNull() && !icon_.isVisible()) icon_.show();
}

QtTrayShell::Receiver QtTrayShell::SetReceiver(Receiver receiver) {
    Receiver previous = std::move(receiver_);
    receiver_ = std::move(receiver);
    return previous;
}

bool QtTrayShell::IsSystemTrayAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayShell::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            Notify(TrayNotification::LeftButtonDown);
            Notify(TrayNotification::LeftButtonUp);
            break;
        case QSystemTrayIcon::Context:
            Notify(TrayNotification::RightButtonDown);
            Notify(TrayNotification::RightButtonUp);
            break;
        case QSystemTrayIcon::DoubleClick:
            // Qt has already reported the first click as a Trigger.
            Notify(TrayNotification::LeftButtonDblClk);
            Notify(TrayNotification::LeftButtonUp);
            break;
        case QSystemTrayIcon::MiddleClick:
            Notify(TrayNotification::MiddleButtonDown);
            Notify(TrayNotification::MiddleButtonUp);
            break;
        case QSystemTrayIcon::Unknown:
            break;
    }
}

void QtTrayShell::Notify(std::uint32_t lParam) {
    if (!added_ || callbackMessage_ == 0 || !receiver_) return;
    // Copy: the receiver may replace itself, e.g. when a handler removes the icon.
    const Receiver receiver = receiver_;
    try {
        receiver(callbackMessage_, id_, lParam);
    } catch (const std::exception& e) {
        qCWarning(lcTray) << "tray event handler failed:" << e.what();
    } catch (...) {
        qCWarning(lcTray) << "tray event handler failed";
    }
}

}  // namespace camwarden
