#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

namespace camwarden {

// Whether a StatusNotifier tray (the D-Bus kind KDE, GNOME's extensions and
// waybar host) can take an icon now, and when one comes later: a tray that
// starts after the program, as at log-on, or one that restarts.
class StatusNotifierHost final : public QObject {
    Q_OBJECT

public:
    explicit StatusNotifierHost(QDBusConnection bus, QObject* parent = nullptr);

    // Asks the bus once, waiting at most a moment; only for start-up.
    bool PresentNow() const;

Q_SIGNALS:
    // A watcher with a host on it appeared; `watcher` is its unique bus name,
    // so a restarted tray can be told from one that merely gained a host.
    void Appeared(const QString& watcher);
    // The tray went: its watcher left the bus, or its last host did.
    void Vanished();

private Q_SLOTS:
    void OnHostRegistered(const QDBusMessage& signal);
    void OnHostUnregistered();

private:
    void AskWhetherHosted(const QString& watcher);

    QDBusConnection bus_;
};

}  // namespace camwarden
