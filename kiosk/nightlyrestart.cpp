#include "nightlyrestart.h"

#include "kiosklog.h"

namespace nx7 {

bool NightlyRestartCheck::tick(const QDateTime &now, bool issuing)
{
    // The latest restart moment at or before now.
    QDate day = now.date();
    if (now.time() < restartTime())
        day = day.addDays(-1);
    const QDateTime moment(day, restartTime());

    const qint64 late = moment.secsTo(now);
    if (m_previous < moment && moment <= now && m_doneFor != day) {
        if (late > kCatchUpSeconds) {
            // Not a busy loop but a clock put forward: numbering goes on until next night.
            qCWarning(lcKiosk).noquote()
                << "clock moved from" << m_previous.toString(Qt::ISODate) << "to"
                << now.toString(Qt::ISODate) << "past the nightly restart: no restart";
            m_doneFor = day;
        } else {
            if (m_previous.secsTo(now) > 1)
                qCInfo(lcKiosk).noquote()
                    << "nightly restart caught up: previous tick"
                    << m_previous.toString(Qt::ISODate) << "now" << now.toString(Qt::ISODate);
            m_pending = true;
            m_doneFor = day;
        }
    }
    m_previous = now;

    if (!m_pending)
        return false;
    if (issuing) {
        qCInfo(lcKiosk) << "nightly restart waits for the ticket being issued";
        return false;
    }
    m_pending = false;
    return true;
}

} // namespace nx7
