#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

#include "platform/qt/StatusNotifierTrays.h"

namespace camwarden {

// StatusNotifier trays on the session bus: asked through the watcher, and
// told apart by the watcher's unique bus name.
class StatusNotifierHost final : public StatusNotifierTrays {
    Q_OBJECT

public:
    explicit StatusNotifierHost(QDBusConnection bus, QObject* parent = nullptr);

    bool PresentNow() const override;
    // Balloons through the desktop's notification daemon on the same bus.
    std::unique_ptr<TrayBalloons> MakeBalloons() override;

private Q_SLOTS:
    void OnHostRegistered(const QDBusMessage& signal);
    void OnHostUnregistered();

private:
    void AskWhetherHosted(const QString& watcher);

    QDBusConnection bus_;
};

}  // namespace camwarden
