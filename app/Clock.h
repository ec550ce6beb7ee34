#pragma once

#include <QDateTime>

namespace camwarden {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime Now() override { return QDateTime::currentDateTime(); }
};

}  // namespace camwarden
