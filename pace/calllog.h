#pragma once

#include "errors.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>

#include <array>

namespace nx7 {

// A number the counters called, and when the kiosk saw it called.
struct Call
{
    qint32 number = 0;
    qint64 atMs = 0; // milliseconds since the epoch
};

// What the kiosk knows of one slot's calls today.
struct SlotCalls
{
    bool seen = false;  // the numbering file has been read today
    qint64 sinceMs = 0; // when this slot's day began to be watched
    qint32 calling = 0; // the number the counters will call next, as last read
    QList<Call> calls;  // oldest first
    QList<Call> issued; // the tickets this kiosk issued, oldest first
};

// Today's calls per slot, learnt from successive readings of the numbering files. Safe to
// use from several threads: the watcher writes, the ticket issue reads. The calls are kept
// in a small journal in the station folder, replaced whole at each change, so that a kiosk
// restarted within the day knows the pace it had.
class CallLog
{
public:
    static constexpr int kSlots = 20;
    // The journal's name in the station folder.
    static inline const QString JournalName = QStringLiteral("AttesaChiamate.json");
    // The oldest calls of a slot are forgotten past this many.
    static constexpr int kMaxCalls = 500;
    // A jump forward larger than this is a numbering set anew, not calls.
    static constexpr qint32 kMaxCallsAtOnce = 100;

    // An empty path keeps no journal.
    explicit CallLog(QString journalPath = QString());

    // Reads the journal; a journal of another day, or one that cannot be read, is ignored.
    void restore(const QDate &today);

    // Takes a reading of a slot's numbering file at `at`: the numbers between the last
    // reading and this one were called meanwhile. A number that went back, or the first
    // reading of a day, starts the slot's day afresh. True when the log changed.
    bool observe(int slot, qint32 calling, const QDateTime &at);

    // A ticket of `slot` numbered `number` was issued at `at`: the numbers up to it were
    // waiting from then on. A number lower than the last starts the issues afresh.
    void noteIssued(int slot, qint32 number, const QDateTime &at);

    // A copy of the slot's day; an unseen slot for a slot out of range.
    SlotCalls slot(int slot) const;

    // Replaces the journal with today's calls; nothing without a journal.
    Status save() const;

    const QString &journalPath() const { return m_journalPath; }

private:
    void startDay(const QDate &day);

    QString m_journalPath;
    mutable QMutex m_mutex;
    QDate m_day;
    std::array<SlotCalls, kSlots + 1> m_slots{};
};

} // namespace nx7
