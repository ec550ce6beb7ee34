#include "app/EventLoopWatch.h"

#include <QLoggingCategory>
#include <algorithm>
#include <memory>

namespace camwarden {
namespace {
Q_LOGGING_CATEGORY(lcLatency, "camwarden.app.latency", QtWarningMsg)
}

std::unique_ptr<EventLoopWatch> EventLoopWatch::IfWanted() {
    return lcLatency().isDebugEnabled() ? std::make_unique<EventLoopWatch>() : nullptr;
}

EventLoopWatch::EventLoopWatch() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTick);
    connect(&timer_, &QTimer::timeout, this, &EventLoopWatch::OnTick);
    timer_.start();
    sinceTick_.start();
    sincePeriod_.start();
}

void EventLoopWatch::OnTick() {
    const qint64 late = sinceTick_.restart() - qint64(kTick.count());
    // Said at once, so the log shows what the window was busy with.
    if (late > kNoted.count()) qCDebug(lcLatency) << "the event loop ran" << late << "ms late";
    worst_ = std::max(worst_, late);
    if (sincePeriod_.elapsed() < kPeriod.count()) return;
    qCDebug(lcLatency).noquote() << QStringLiteral("worst lateness %1 ms in %2 s")
                                        .arg(worst_)
                                        .arg(double(sincePeriod_.restart()) / 1000, 0, 'f', 1);
    worst_ = 0;
}

}  // namespace camwarden
