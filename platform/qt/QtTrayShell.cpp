#include "platform/qt/QtTrayShell.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <exception>

#include "platform/qt/StatusNotifierTrays.h"

namespace camwarden {

namespace {
Q_LOGGING_CATEGORY(lcTray, "camwarden.tray")

// A balloon sent without a time stays up as long as the shell's own default.
constexpr int DefaultBalloonMs = 10000;
}  // namespace

bool OnWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QtTrayShell::QtTrayShell(QObject* parent) : QObject(parent) {
    balloonTimeout_.setSingleShot(true);
    connect(&balloonTimeout_, &QTimer::timeout, this,
            [this] { Notify(TrayNotification::BalloonTimeout); });
    host_ = SessionStatusNotifierTrays();
    if (host_) {
        connect(host_.get(), &StatusNotifierTrays::Appeared, this, &QtTrayShell::OnTrayAppeared);
        connect(host_.get(), &StatusNotifierTrays::Vanished, this, [this] {
            if (notifications_) SetTrayPresent(false);
        });
    }
    const bool hosted = host_ && host_->PresentNow();
    // Elsewhere Qt watches for an XEmbed tray by itself.
    if (hosted || !OnWayland()) MakeIcon(hosted);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Qt's X11 support says when the tray's window changes only through
        // its native interface, by name, as Qt's own tray icon hears it;
        // that interface is a QObject.
        QObject* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
        connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this,
                SLOT(OnXEmbedTrayChanged()), Qt::QueuedConnection);
    }
}

QtTrayShell::~QtTrayShell() {
    receiver_ = {};
    availability_ = {};
    if (icon_) icon_->hide();
}

void QtTrayShell::MakeIcon(bool statusNotifier) {
    icon_ = std::make_unique<QSystemTrayIcon>();
    if (statusNotifier && host_) {
        notifications_ = host_->MakeBalloons();
        connect(notifications_.get(), &TrayBalloons::Clicked, this,
                [this] { BalloonEnded(TrayNotification::BalloonUserClick); });
        connect(notifications_.get(), &TrayBalloons::Dismissed, this,
                [this] { BalloonEnded(TrayNotification::BalloonHide); });
    }
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &QtTrayShell::OnActivated);
    connect(icon_.get(), &QSystemTrayIcon::messageClicked, this,
            [this] { BalloonEnded(TrayNotification::BalloonUserClick); });
    icon_->setIcon(picture_);
    icon_->setToolTip(tip_);
    if (menu_) icon_->setContextMenu(menu_);
    ShowIfReady();
}

void QtTrayShell::OnTrayAppeared(const QString& watcher) {
    if (!icon_) {
        qCInfo(lcTray) << "a tray appeared; the icon goes into it";
        MakeIcon(true);
        registeredWith_ = watcher;
        return;
    }
    // A tray that restarted knows nothing of the icon: hand it over again.
    if (notifications_ && icon_->isVisible() && watcher != registeredWith_) {
        icon_->hide();
        icon_->show();
    }
    registeredWith_ = watcher;
    if (notifications_) SetTrayPresent(true);
}

void QtTrayShell::OnXEmbedTrayChanged() {
    // Qt puts its icon into a new tray by itself.
    if (icon_ && !notifications_) SetTrayPresent(QSystemTrayIcon::isSystemTrayAvailable());
}

void QtTrayShell::SetTrayPresent(bool present) {
    if (trayGone_ == !present) return;
    trayGone_ = !present;
    qCInfo(lcTray) << (present ? "the tray is back" : "the tray went away");
    if (availability_) availability_(present);
}

void QtTrayShell::SetAvailabilityHandler(AvailabilityHandler handler) {
    availability_ = std::move(handler);
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
            if (notifications_) notifications_->Close();
            if (icon_) icon_->hide();
            added_ = false;
            callbackMessage_ = 0;
            return true;
    }
    return false;
}

void QtTrayShell::Apply(const NotifyIconData& data) {
    if (data.uFlags & Nif::Icon) picture_ = data.hIcon;
    if (data.uFlags & Nif::Tip) tip_ = data.szTip;
    if (icon_) {
        icon_->setIcon(picture_);
        icon_->setToolTip(tip_);
    }
    // Qt cannot show an icon without a picture; it appears once one is set.
    ShowIfReady();
    if (data.uFlags & Nif::Info) {
        if (data.szInfo.isEmpty() && data.szInfoTitle.isEmpty()) {
            TakeBalloonDown();
        } else {
            ShowBalloon(data);
        }
    }
}

void QtTrayShell::ShowBalloon(const NotifyIconData& data) {
    const int ms = data.uTimeout > 0 ? static_cast<int>(data.uTimeout) : DefaultBalloonMs;
    if (notifications_) {
        notifications_->Show(data.szInfoTitle, data.szInfo, ms);
    } else if (icon_) {
        icon_->showMessage(data.szInfoTitle, data.szInfo, QSystemTrayIcon::NoIcon, ms);
    }
    balloonTimeout_.start(ms);
}

void QtTrayShell::TakeBalloonDown() {
    balloonTimeout_.stop();
    if (notifications_) {
        notifications_->Close();
    } else if (icon_) {
        // Qt's own balloon goes for an empty message.
        icon_->showMessage(QString(), QString(), QIcon(), 1);
    }
}

void QtTrayShell::BalloonEnded(std::uint32_t lParam) {
    balloonTimeout_.stop();
    Notify(lParam);
}

void QtTrayShell::ShowIfReady() {
    if (icon_ && added_ && !picture_.isNull() && !icon_->isVisible()) icon_->show();
}

void QtTrayShell::SetMenu(QMenu* menu) {
    if (icon_ && menu_ && menu != menu_) {
        // Qt's StatusNotifier icon keeps parts of the menu it was given and
        // frees them again when it goes, so it must not outlive that menu,
        // and a menu cannot be taken off it: the icon is made anew.
        const bool statusNotifier = notifications_ != nullptr;
        icon_.reset();
        notifications_.reset();
        menu_ = menu;
        MakeIcon(statusNotifier);
        return;
    }
    menu_ = menu;
    if (icon_) icon_->setContextMenu(menu);
}

QtTrayShell::Receiver QtTrayShell::SetReceiver(Receiver receiver) {
    Receiver previous = std::move(receiver_);
    receiver_ = std::move(receiver);
    return previous;
}

bool QtTrayShell::IsSystemTrayAvailable() const {
    // Asking Qt before a tray exists would settle its choice for good.
    return icon_ && !trayGone_ && QSystemTrayIcon::isSystemTrayAvailable();
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
