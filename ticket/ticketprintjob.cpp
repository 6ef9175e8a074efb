#include "ticketprintjob.h"

#include "filenames.h"
#include "reportengine.h"
#include "shell.h"
#include "tables.h"
#include "ticketlog.h"
#include "ticketscreen.h"
#include "ticketstore.h"
#include "waitestimator.h"

#include <QDateTime>

#include <cmath>

namespace nx7 {

namespace {

const QString &PrintTable = Table::PrintRow;

bool typeIsOneOf(const QString &declared, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (declared == QLatin1StringView(name))
            return true;
    }
    return false;
}

QString numberText(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("-1") : QStringLiteral("0");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QString::number(value.toLongLong());
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', 15);
    default:
        return value.toString();
    }
}

} // namespace

TicketPrintJob::TicketPrintJob(const Stores &stores, Shell &shell, ReportEngine &engine)
    : m_stores(stores), m_shell(shell), m_engine(engine)
{
    m_engine.setDefineVariablesHandler(
        [this](qint32 userData, qint32 flag, qint32 &percent, qint32 &lastRecord) {
            DefineTicketVariables(userData, flag, percent, lastRecord);
        });
}

TicketPrintJob::~TicketPrintJob()
{
    m_engine.setDefineVariablesHandler({});
}

Status TicketPrintJob::WritePrintRow(const TicketContext &ticket)
{
    auto written = TicketStore::writePrintRow(m_stores, {ticket.issuedServiceName,
                                                         ticket.screenDateText, ticket.peopleAhead,
                                                         ticket.issuedTime, ticket.issuedNumber});
    if (!written)
        return written.error();
    if (!*written)
        qCWarning(lcTicket) << "print table" << PrintTable << "has no row: ticket"
                            << ticket.issuedNumber << "not stored for printing";
    return {};
}

Status TicketPrintJob::checkPrintable()
{
    return m_engine.checkReady(FileName::TicketLayout);
}

Status TicketPrintJob::PrintTicket(QWidget *parent)
{
    m_lastPrinted = false;
    QString projectFile = FileName::TicketLayout;
    auto rows = TicketStore::printRows(m_stores);
    if (!rows)
        return rows.error();
    if (rows->recordCount() == 0) {
        qCWarning(lcTicket) << "no row with ID 1 in" << PrintTable << ": nothing printed";
        m_shell.messageBox(parent, Shell::Icon::None, Shell::applicationTitle(), NoDataMessage);
        return {};
    }
    m_printRows = std::move(*rows);
    m_position = 0;
    const Status result = m_engine.printRun(0, ReportEngine::LabelProject, projectFile, 0,
                                            ReportEngine::DirectToPrinter, 0, parent, QString(), 0,
                                            qEnvironmentVariable("temp"));
    m_lastPrinted = result.ok();
    if (!m_lastPrinted)
        qCWarning(lcTicket) << "print run ended with error" << result.errorNumber();
    m_printRows.reset();
    return {};
}

void TicketPrintJob::DefineTicketVariables(qint32 userData, qint32 flag, qint32 &percent,
                                           qint32 &lastRecord)
{
    Q_UNUSED(userData);
    if (!m_printRows || m_printRows->eof()) {
        // Raised outside a print run of ours or past the last row: nothing more to give.
        // As for any row, the outputs are only touched when the flag asks for a move.
        if (flag == 0)
            lastRecord = 1;
        return;
    }
    RecordSet &rows = *m_printRows;
    for (int i = 0; i < rows.fieldCount(); ++i) {
        const ReportVariable variable =
            reportVariable(rows.fieldName(i), rows.declaredType(i), rows.value(i));
        m_typeCode = variable.typeCode;
        m_lastDefineResult = m_engine.defineVariable(variable.name, variable.contents, m_typeCode);
    }
    m_typeCode = VariableType::Text;
    m_lastDefineResult =
        m_engine.defineVariable(WaitEstimateText::Variable, m_estimatedWait, m_typeCode);
    if (flag == 0) {
        const double position =
            rows.recordCount() > 0 ? 100.0 * m_position / rows.recordCount() : 0.0;
        percent = qint32(std::nearbyint(position));
        rows.moveNext();
        ++m_position;
        if (rows.eof())
            lastRecord = 1;
    }
}

qint32 TicketPrintJob::typeCodeOf(const QString &declaredType)
{
    const QString type = declaredType.trimmed().toUpper().section(u'(', 0, 0).trimmed();
    if (typeIsOneOf(type, {"BOOLEAN", "BOOL", "BIT", "YESNO", "LOGICAL"}))
        return VariableType::Boolean;
    if (typeIsOneOf(type,
                    {"INTEGER", "INT", "SMALLINT", "LONG", "BIGINT", "MEDIUMINT", "INT2", "INT4",
                     "INT8", "REAL", "DOUBLE", "DOUBLE PRECISION", "FLOAT", "SINGLE"}))
        return VariableType::Numeric;
    if (typeIsOneOf(type, {"DATE", "DATETIME", "TIMESTAMP", "TIME"}))
        return VariableType::Date;
    // Byte, currency, text, memo and everything else.
    return VariableType::Text;
}

QString TicketPrintJob::dayCountText(const QVariant &value)
{
    if (Value::isNull(value))
        return QString();
    QDateTime when;
    switch (value.metaType().id()) {
    case QMetaType::QDateTime:
        when = value.toDateTime();
        break;
    case QMetaType::QDate:
        when = QDateTime(value.toDate(), QTime(0, 0));
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        // Already a day count.
        return QString::number(double(float(value.toDouble())), 'g', 7);
    default: {
        const QString text = value.toString().trimmed();
        when = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!when.isValid())
            when = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!when.isValid())
            when = QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0));
        if (!when.isValid())
            return text;
        break;
    }
    }
    const qint64 wholeDays = QDate(1899, 12, 30).daysTo(when.date());
    const double fraction = when.time().msecsSinceStartOfDay() / 86400000.0;
    // Before the epoch the whole part counts back while the fraction runs forward.
    const double days = wholeDays < 0 ? double(wholeDays) - fraction : double(wholeDays) + fraction;
    return QString::number(double(float(days)), 'g', 7);
}

ReportVariable TicketPrintJob::reportVariable(const QString &column, const QString &declaredType,
                                              const QVariant &value)
{
    const qint32 code = typeCodeOf(declaredType);
    QString contents;
    if (!Value::isNull(value)) {
        switch (code) {
        case VariableType::Boolean:
            contents = Value::isTrue(value) ? QStringLiteral("True") : QStringLiteral("False");
            break;
        case VariableType::Numeric:
            contents = numberText(value);
            break;
        case VariableType::Date:
            contents = dayCountText(value);
            break;
        default:
            contents = value.toString();
            break;
        }
    }
    return ReportVariable{column, contents, code};
}

} // namespace nx7
