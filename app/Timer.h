#pragma once

#include <QObject>
#include <QTimer>

namespace camwarden {

// A window timer as the handlers expect it: it ticks only while enabled
// with a non-zero interval. Ticks are scheduled from the previous due time,
// not from the end of the last handler, so a schedule does not drift.
class Timer : public QObject {
    Q_OBJECT
public:
    Timer(int intervalMs, bool enabled, QObject* parent = nullptr);

    int Interval() const { return interval_; }
    void SetInterval(int ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool IsTicking() const { return timer_.isActive(); }
    // Until the next tick; -1 when not ticking.
    int RemainingMs() const { return timer_.remainingTime(); }
    // The next tick comes in `ms`, those after it every interval from there.
    void TickAfter(int ms);

Q_SIGNALS:
    void Tick();

private:
    void Update();

    QTimer timer_;
    int interval_;
    bool enabled_;
    bool phaseMoved_ = false;
};

}  // namespace camwarden
