#pragma once

#include "database.h"
#include "errors.h"
#include "reportvariable.h"
#include "stores.h"

#include <QString>
#include <QVariant>

#include <optional>

class QWidget;

namespace nx7 {

class ReportEngine;
class Shell;
struct TicketContext;

// The print row "DatiDaStampare" of the local database and the print run of "Ticket.lbl".
class TicketPrintJob
{
public:
    TicketPrintJob(const Stores &stores, Shell &shell, ReportEngine &engine);
    ~TicketPrintJob();
    TicketPrintJob(const TicketPrintJob &) = delete;
    TicketPrintJob &operator=(const TicketPrintJob &) = delete;

    // Stores the ticket's values in the print row. A print table without rows is logged
    // and left alone: the print run then shows its no-data message.
    Status WritePrintRow(const TicketContext &ticket);

    // The printed text of the ticket's estimated wait, handed to the layout beside the print
    // row's columns (not stored in the row); empty prints nothing.
    void setEstimatedWait(const QString &text) { m_estimatedWait = text; }

    // Prints the row whose "ID" is 1 with "Ticket.lbl", or shows the no-data message.
    // Printing problems are logged, not returned; errors are those of the local database.
    Status PrintTicket(QWidget *parent);
    // Whether the last PrintTicket put the ticket on paper (or in its PDF file).
    bool lastTicketPrinted() const { return m_lastPrinted; }

    // Whether a ticket could be printed now (layout readable, printer ready); asked before
    // a number is used.
    Status checkPrintable();

    // The engine's per-label callback: every column of the selected row becomes a variable.
    void DefineTicketVariables(qint32 userData, qint32 flag, qint32 &percent, qint32 &lastRecord);

    // A column as a report variable: its type code from the declared type and its contents.
    static ReportVariable reportVariable(const QString &column, const QString &declaredType,
                                         const QVariant &value);
    static qint32 typeCodeOf(const QString &declaredType);
    // Days since 30 December 1899 of a date value, in single precision, as text.
    static QString dayCountText(const QVariant &value);

    static inline const QString NoDataMessage =
        QStringLiteral("Nessun dato da stampare per questa selezione !");

private:
    Stores m_stores;
    Shell &m_shell;
    ReportEngine &m_engine;
    std::optional<RecordSet> m_printRows; // the selected row during a print run
    int m_position = 0;
    qint32 m_typeCode = 0;
    qint32 m_lastDefineResult = 0;
    bool m_lastPrinted = false;
    QString m_estimatedWait;
};

} // namespace nx7
