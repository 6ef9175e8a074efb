#include "numberingday.h"

#include "startuplog.h"
#include "textrecord.h"

#include <QFile>

namespace nx7 {

namespace {

// Two lines a technician can read: the start in ISO form, then the state.
const QString kServing = QStringLiteral("in servizio");
const QString kEnded = QStringLiteral("chiuso dall'operatore");

} // namespace

QString NumberingDay::fileName()
{
    return QStringLiteral("GiornataNumerazione.txt");
}

QDate NumberingDay::numberingDate(const QDateTime &at)
{
    return at.time() < dayBoundary() ? at.date().addDays(-1) : at.date();
}

NumberingDay::NumberingDay(const Stores &stores) : m_stores(stores) {}

std::optional<NumberingDay::Record> NumberingDay::read() const
{
    QFile file(m_stores.stationFile(fileName()));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QStringList lines = QString::fromUtf8(file.read(4096)).split(u'\n');
    Record record{QDateTime::fromString(lines.value(0).trimmed(), Qt::ISODate),
                  lines.value(1).trimmed() == kEnded};
    if (!record.started.isValid()) {
        qCWarning(lcStartup).noquote() << fileName() << "unreadable: taken as no day started";
        return std::nullopt;
    }
    return record;
}

std::optional<QDateTime> NumberingDay::startedToday(const QDateTime &now) const
{
    const auto record = read();
    if (!record || numberingDate(record->started) != numberingDate(now))
        return std::nullopt;
    return record->started;
}

bool NumberingDay::resumesWithoutOperator(const QDateTime &now) const
{
    const auto record = read();
    return record && !record->endedByOperator && startedToday(now).has_value();
}

void NumberingDay::numberingStarted(const QDateTime &now, bool initial)
{
    const auto today = startedToday(now);
    write({initial || !today ? now : *today, false});
}

void NumberingDay::endedByOperator()
{
    auto record = read();
    if (!record) // no numbering started: nothing to resume, nothing to remember
        return;
    record->endedByOperator = true;
    write(*record);
}

void NumberingDay::write(const Record &record) const
{
    const QString text = record.started.toString(Qt::ISODate) + u'\n' +
                         (record.endedByOperator ? kEnded : kServing) + u'\n';
    Status written =
        TextRecord::writeFileAtomically(m_stores.stationFile(fileName()), text.toUtf8());
    if (!written)
        qCWarning(lcStartup).noquote()
            << fileName() << "not written:" << written.error().description;
}

} // namespace nx7
