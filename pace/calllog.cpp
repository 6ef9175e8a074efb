#include "calllog.h"

#include "pacelog.h"
#include "textrecord.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace nx7 {

namespace {

bool validSlot(int slot)
{
    return slot >= 1 && slot <= CallLog::kSlots;
}

QJsonArray toJson(const QList<Call> &calls)
{
    QJsonArray json;
    for (const Call &call : calls)
        json.append(QJsonArray{call.number, double(call.atMs)});
    return json;
}

QJsonObject toJson(const SlotCalls &day)
{
    return {{"since", double(day.sinceMs)},
            {"calling", day.calling},
            {"calls", toJson(day.calls)},
            {"issued", toJson(day.issued)}};
}

QList<Call> callsFromJson(const QJsonValue &json)
{
    QList<Call> calls;
    for (const QJsonValue &entry : json.toArray()) {
        const QJsonArray pair = entry.toArray();
        calls.append(Call{pair.at(0).toInt(), qint64(pair.at(1).toDouble())});
    }
    if (calls.size() > CallLog::kMaxCalls)
        calls.remove(0, calls.size() - CallLog::kMaxCalls);
    return calls;
}

SlotCalls slotFromJson(const QJsonObject &json)
{
    SlotCalls day;
    day.seen = true;
    day.sinceMs = qint64(json.value("since").toDouble());
    day.calling = json.value("calling").toInt();
    day.calls = callsFromJson(json.value("calls"));
    day.issued = callsFromJson(json.value("issued"));
    return day;
}

} // namespace

CallLog::CallLog(QString journalPath) : m_journalPath(std::move(journalPath)) {}

void CallLog::restore(const QDate &today)
{
    if (m_journalPath.isEmpty())
        return;
    QFile file(m_journalPath);
    if (!file.open(QIODevice::ReadOnly))
        return; // none yet
    QJsonParseError error;
    const QJsonObject journal = QJsonDocument::fromJson(file.readAll(), &error).object();
    if (error.error != QJsonParseError::NoError) {
        qCWarning(lcPace).noquote()
            << "call journal" << QDir::toNativeSeparators(m_journalPath) << "not readable ("
            << error.errorString() << "): the pace is learnt afresh";
        return;
    }
    if (QDate::fromString(journal.value("day").toString(), Qt::ISODate) != today)
        return; // yesterday's pace says nothing about today
    QMutexLocker lock(&m_mutex);
    m_day = today;
    const QJsonObject slotDays = journal.value("slots").toObject();
    int restored = 0;
    for (auto it = slotDays.begin(); it != slotDays.end(); ++it) {
        const int slot = it.key().toInt();
        if (!validSlot(slot))
            continue;
        m_slots[size_t(slot)] = slotFromJson(it.value().toObject());
        restored += int(m_slots[size_t(slot)].calls.size());
    }
    qCInfo(lcPace) << "call journal restored:" << restored << "calls today";
}

bool CallLog::observe(int slot, qint32 calling, const QDateTime &at)
{
    if (!validSlot(slot))
        return false;
    QMutexLocker lock(&m_mutex);
    startDay(at.date());
    SlotCalls &day = m_slots[size_t(slot)];
    const qint64 atMs = at.toMSecsSinceEpoch();
    if (day.seen && calling == day.calling)
        return false;
    const qint64 forward = qint64(calling) - day.calling;
    if (!day.seen || forward < 0 || forward > kMaxCallsAtOnce) {
        if (day.seen)
            qCInfo(lcPace).noquote() << QStringLiteral("slot %1 numbering went from %2 to %3: "
                                                       "its calls are counted afresh")
                                            .arg(slot)
                                            .arg(day.calling)
                                            .arg(calling);
        day = SlotCalls{true, atMs, calling, {}, {}};
        return true;
    }
    for (qint32 number = day.calling; number < calling; ++number)
        day.calls.append(Call{number, atMs});
    if (day.calls.size() > kMaxCalls)
        day.calls.remove(0, day.calls.size() - kMaxCalls);
    day.calling = calling;
    return true;
}

void CallLog::startDay(const QDate &day)
{
    if (day == m_day)
        return;
    m_day = day;
    m_slots = {};
}

void CallLog::noteIssued(int slot, qint32 number, const QDateTime &at)
{
    if (!validSlot(slot))
        return;
    QMutexLocker lock(&m_mutex);
    startDay(at.date());
    QList<Call> &issued = m_slots[size_t(slot)].issued;
    if (!issued.isEmpty() && number <= issued.constLast().number)
        issued.clear(); // the kiosk's numbering started again
    issued.append(Call{number, at.toMSecsSinceEpoch()});
    if (issued.size() > kMaxCalls)
        issued.remove(0, issued.size() - kMaxCalls);
}

SlotCalls CallLog::slot(int slot) const
{
    if (!validSlot(slot))
        return {};
    QMutexLocker lock(&m_mutex);
    return m_slots[size_t(slot)];
}

Status CallLog::save() const
{
    if (m_journalPath.isEmpty())
        return {};
    QJsonObject slotDays;
    QString day;
    {
        QMutexLocker lock(&m_mutex);
        day = m_day.toString(Qt::ISODate);
        for (int slot = 1; slot <= kSlots; ++slot) {
            if (m_slots[size_t(slot)].seen)
                slotDays.insert(QString::number(slot), toJson(m_slots[size_t(slot)]));
        }
    }
    const QByteArray text = QJsonDocument(QJsonObject{{"day", day}, {"slots", slotDays}})
                                .toJson(QJsonDocument::Compact);
    // A crash while writing leaves the previous journal whole.
    return TextRecord::writeFileAtomically(m_journalPath, text);
}

} // namespace nx7
