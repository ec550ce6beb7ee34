#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "tray/TrayShell.h"

namespace camwarden {

// The notification area through QSystemTrayIcon. Qt reports clicks rather
// than button transitions, so each click is replayed as the down/up pair a
// shell would send.
class QtTrayShell final : public QObject, public TrayShell {
    Q_OBJECT

public:
    explicit QtTrayShell(QObject* parent = nullptr);
    ~QtTrayShell() override;

    bool NotifyIcon(NotifyIconMessage message, const NotifyIconData& data) override;
    Receiver SetReceiver(Receiver receiver) override;
    bool IsSystemTrayAvailable() const override;

    // For checks that want to look at what is really on screen.
    QSystemTrayIcon& Icon() { return icon_; }

private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);
    void Notify(std::uint32_t lParam);
    void Apply(const NotifyIconData& data);
    void ShowIfReady();

    QSystemTrayIcon icon_;
    QTimer balloonTimeout_;
    Receiver receiver_;
    bool added_ = false;
    std::uint32_t callbackMessage_ = 0;
    std::uint32_t id_ = 0;
};

}  // namespace camwarden
