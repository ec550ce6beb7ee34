#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

namespace camwarden {

// With debug logging of "camwarden.app.latency" on, measures how late the
// UI thread runs a short timer and logs the worst delay of every period:
// the window's countdown is only as steady as this. Costs nothing when off.
class EventLoopWatch : public QObject {
public:
    static constexpr std::chrono::milliseconds kTick{10};
    static constexpr std::chrono::milliseconds kPeriod{10000};
    static constexpr std::chrono::milliseconds kNoted{20};

    // Null unless the category's debug output is on.
    static std::unique_ptr<EventLoopWatch> IfWanted();
    EventLoopWatch();

private:
    void OnTick();

    QTimer timer_;
    QElapsedTimer sinceTick_;
    QElapsedTimer sincePeriod_;
    qint64 worst_ = 0;
};

}  // namespace camwarden
