#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace nx7 {

// Decides, tick by tick, when the kiosk screen restarts the numbering for the night.
// The restart falls when the clock has passed 03:31:00 since the previous tick, so a
// loop that was busy at that second still restarts, but only within a short window after
// it: a clock stepped forward into the day (NTP, an operator) restarts nothing before the
// next night. Once per day at most; and not while a ticket is being issued, but at the
// first tick after it.
class NightlyRestartCheck
{
public:
    static QTime restartTime() { return QTime(3, 31, 0); }
    // How late after 03:31:00 a tick may still catch the restart up.
    static constexpr int kCatchUpSeconds = 60;

    // `start` counts as the first tick: a screen loaded after 03:31:00 does not restart
    // before the next night.
    explicit NightlyRestartCheck(const QDateTime &start) : m_previous(start) {}

    // True when the restart is to run now.
    bool tick(const QDateTime &now, bool issuing);
    // A restart is due but waits for the ticket being issued.
    bool pending() const { return m_pending; }

private:
    QDateTime m_previous;
    QDate m_doneFor; // the day whose restart has run
    bool m_pending = false;
};

} // namespace nx7
