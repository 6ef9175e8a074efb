#pragma once

#include "errors.h"
#include "stores.h"

#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

namespace nx7 {

// What the station folder remembers of the day's numbering, so that a start nobody asked
// for (a crash, the watchdog, a kill, a power cut) can tell that the day was already being
// served and go back to serving at once, as the nightly restart does.
//
// One small text file, "GiornataNumerazione.txt": the time the day's numbering started
// and whether the program then ended through the operator ("C&hiudi", or the save of the
// server path). It is replaced atomically and flushed: after a power cut it holds the
// state before or after the last change, never a part of either.
class NumberingDay
{
public:
    struct Record
    {
        QDateTime started;            // when the day's numbering started
        bool endedByOperator = false; // the program then ended through the operator
    };

    static QString fileName();
    // A numbering day runs from one nightly restart to the next, so a kiosk that stops at
    // 01:00 is still in the day that began the morning before.
    static QTime dayBoundary() { return QTime(3, 31, 0); }
    static QDate numberingDate(const QDateTime &at);

    explicit NumberingDay(const Stores &stores);

    // None when the station has no record yet, or one that cannot be read.
    std::optional<Record> read() const;
    // When the numbering of the day running at `now` started; none when it has not.
    std::optional<QDateTime> startedToday(const QDateTime &now) const;
    // The start at `now` was not asked for: the day's numbering had started and the
    // program did not end through the operator.
    bool resumesWithoutOperator(const QDateTime &now) const;

    // Neither stops the kiosk when the file cannot be written (logged): only the resume
    // after a stop nobody asked for is lost.
    // The numbering has started at `now`. An initial start, or the first of a new day,
    // makes `now` the day's start; a current start on the same day keeps the earlier one.
    void numberingStarted(const QDateTime &now, bool initial);
    // The operator ended the program: the next start shows the start-up window.
    void endedByOperator();

private:
    void write(const Record &record) const;

    Stores m_stores;
};

} // namespace nx7
