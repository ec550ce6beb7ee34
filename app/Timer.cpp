#include "app/Timer.h"

#include <algorithm>

namespace camwarden {

Timer::Timer(int intervalMs, bool enabled, QObject* parent)
    : QObject(parent), interval_(intervalMs), enabled_(enabled) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (phaseMoved_) {
            phaseMoved_ = false;
            timer_.start(interval_);
        }
        Q_EMIT Tick();
    });
    Update();
}

void Timer::SetInterval(int ms) {
    if (ms == interval_) return;
    interval_ = ms;
    Update();
}

void Timer::SetEnabled(bool enabled) {
    // Re-enabling a running timer must not restart its period.
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
}

void Timer::TickAfter(int ms) {
    if (!timer_.isActive()) return;
    phaseMoved_ = true;
    timer_.start(std::max(ms, 0));
}

void Timer::Update() {
    phaseMoved_ = false;
    if (enabled_ && interval_ > 0) {
        timer_.start(interval_);
    } else {
        timer_.stop();
    }
}

}  // namespace camwarden
