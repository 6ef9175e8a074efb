#pragma once

#include <QDateTime>

namespace nx7 {

// The local time as the kiosk sees it; tests replace it to move time.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace nx7
