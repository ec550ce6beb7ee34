#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <cstdint>

#include "platform/qt/StatusNotifierTrays.h"

namespace camwarden {

// Balloons of a StatusNotifier icon, sent to the desktop's notification
// daemon directly: Qt's own can only be taken down by sending a second,
// empty notification, which some desktops show as a blank one.
class Notifications final : public TrayBalloons {
    Q_OBJECT

public:
    explicit Notifications(QDBusConnection bus, QObject* parent = nullptr);

    void Show(const QString& title, const QString& text, int timeoutMs) override;
    void Close() override;

private Q_SLOTS:
    void OnClosed(uint id, uint reason);
    void OnAction(uint id, const QString& key);

private:
    QDBusConnection bus_;
    std::uint32_t id_ = 0;    // the daemon's number for ours; 0 while none is up
    std::uint64_t sent_ = 0;  // requests made, so a late answer finds out it is stale
    bool closeOnArrival_ = false;
};

}  // namespace camwarden
