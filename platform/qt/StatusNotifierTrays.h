#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace camwarden {

// The balloons of a StatusNotifier icon, put up by the desktop's own
// notification service rather than by Qt.
class TrayBalloons : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Replaces the balloon this object put up, if any.
    virtual void Show(const QString& title, const QString& text, int timeoutMs) = 0;
    // Takes it down; nothing is shown in its place.
    virtual void Close() = 0;

Q_SIGNALS:
    void Clicked();
    void TimedOut();
    void Dismissed();
};

// Trays of the StatusNotifier kind (KDE's, GNOME's extensions, waybar),
// which Linux desktops reach over D-Bus: whether one can take an icon now,
// and when one comes later (a tray that starts after the program, as at
// log-on, or one that restarts).
class StatusNotifierTrays : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Asks once, waiting at most a moment; only for start-up.
    virtual bool PresentNow() const = 0;
    virtual std::unique_ptr<TrayBalloons> MakeBalloons() = 0;

Q_SIGNALS:
    // A tray appeared; `watcher` names it, so a restarted tray can be told
    // from one that merely gained a host.
    void Appeared(const QString& watcher);
    // The tray went: its watcher left the bus, or its last host did.
    void Vanished();
};

// The session's StatusNotifier trays; null where the platform has none
// (Windows' notification area is Qt's own to serve).
std::unique_ptr<StatusNotifierTrays> SessionStatusNotifierTrays();

}  // namespace camwarden
