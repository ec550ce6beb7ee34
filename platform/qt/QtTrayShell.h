#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

#include "tray/TrayShell.h"

namespace camwarden {

// Wayland: no XEmbed tray, and a window is never told it was minimised.
bool OnWayland();

class StatusNotifierTrays;
class TrayBalloons;

// The notification area through QSystemTrayIcon. Qt reports clicks rather
// than button transitions, so each click is replayed as the down/up pair a
// shell would send.
//
// Qt settles once, when its first tray icon is made, whether icons go to a
// StatusNotifier tray; where that is the only kind (Wayland), the icon is
// made only once such a tray is there, so a tray that starts after the
// program still gets it.
class QtTrayShell final : public QObject, public TrayShell {
    Q_OBJECT

public:
    explicit QtTrayShell(QObject* parent = nullptr);
    ~QtTrayShell() override;

    bool NotifyIcon(NotifyIconMessage message, const NotifyIconData& data) override;
    Receiver SetReceiver(Receiver receiver) override;
    bool IsSystemTrayAvailable() const override;
    void SetMenu(QMenu* menu) override;
    void SetAvailabilityHandler(AvailabilityHandler handler) override;

    // For checks that want to look at what is really on screen; null until
    // a tray has been there to take the icon.
    QSystemTrayIcon* Icon() { return icon_.get(); }

private:
    void MakeIcon(bool statusNotifier);
    void OnTrayAppeared(const QString& watcher);
    void OnActivated(QSystemTrayIcon::ActivationReason reason);
    void Notify(std::uint32_t lParam);
    void Apply(const NotifyIconData& data);
    void ShowBalloon(const NotifyIconData& data);
    void TakeBalloonDown();
    // The shell ended the balloon before its time: the wait ends with it.
    void BalloonEnded(std::uint32_t lParam);
    void ShowIfReady();
    // Tells the window when the tray goes, and when it is back.
    void SetTrayPresent(bool present);
    // XEmbed's tray (X11) changed its window: it went, or one came.
    Q_SLOT void OnXEmbedTrayChanged();

    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<StatusNotifierTrays> host_;    // null where there are none
    std::unique_ptr<TrayBalloons> notifications_;  // set while the icon is a StatusNotifier item
    QString registeredWith_;                       // the tray's bus name when it took the icon
    QIcon picture_;
    QString tip_;
    QPointer<QMenu> menu_;
    QTimer balloonTimeout_;
    Receiver receiver_;
    AvailabilityHandler availability_;
    bool trayGone_ = false;  // the tray that had the icon went away, none came since
    bool added_ = false;
    std::uint32_t callbackMessage_ = 0;
    std::uint32_t id_ = 0;
};

}  // namespace camwarden
