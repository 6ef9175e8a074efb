#include "queueprinter.h"

#include "printerlog.h"
#include "printqueue.h"
#include "ticketpage.h"

#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace nx7 {

namespace {

bool stopped(QPrinter::PrinterState state)
{
    return state == QPrinter::Error || state == QPrinter::Aborted;
}

} // namespace

Status QueuePrinter::print(const QSizeF &pageSizeMm, int pageCount, const QString &jobName,
                           const PagePainter &paintPage)
{
    // QPrinter falls back silently to the default printer for an unknown name, and to
    // a PDF printer without a file when there is no print service: check first.
    const bool named = !m_name.isEmpty();
    const QPrinterInfo info =
        named ? QPrinterInfo::printerInfo(m_name) : QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        if (QPrinterInfo::availablePrinterNames().isEmpty())
            return printerError(QStringLiteral("Nessuna stampante disponibile: il servizio di "
                                               "stampa non è attivo o non ha stampanti"));
        if (named)
            return printerError(
                QStringLiteral("La stampante \"%1\" non esiste; stampanti note: %2")
                    .arg(m_name, QPrinterInfo::availablePrinterNames().join(u", ")));
        return printerError(QStringLiteral("Nessuna stampante predefinita impostata"));
    }
    if (stopped(info.state()))
        return printerError(
            QStringLiteral("La stampante \"%1\" è ferma o in errore").arg(info.printerName()));

    QPrinter printer(info, QPrinter::HighResolution);
    if (printer.outputFormat() != QPrinter::NativeFormat || printer.printerName().isEmpty())
        return printerError(QStringLiteral("Il servizio di stampa non è disponibile per la "
                                           "stampante \"%1\"")
                                .arg(info.printerName()));
    if (printer.printerName() != info.printerName())
        return printerError(
            QStringLiteral("La stampante \"%1\" non è stata selezionata").arg(info.printerName()));
    printer.setDocName(jobName);
    printer.setFullPage(true);
    printer.setPageLayout(ticketPageLayout(pageSizeMm));
    QPainter painter;
    if (!painter.begin(&printer))
        return printerError(QStringLiteral("La stampa sulla stampante \"%1\" non è partita")
                                .arg(info.printerName()));
    for (int page = 0; page < pageCount; ++page) {
        if (page > 0 && !printer.newPage())
            break;
        paintPage(painter, page);
    }
    painter.end();
    if (stopped(printer.printerState()))
        return printerError(QStringLiteral("La stampa sulla stampante \"%1\" non è riuscita")
                                .arg(info.printerName()));
    qCInfo(lcPrinter).noquote() << "ticket sent to printer" << info.printerName();
    return {};
}

Status QueuePrinter::ready()
{
    auto queue = PrintQueue::query(m_name);
    if (!queue)
        return queue.error();
    if (const QString reason = PrintQueue::unreadyReason(*queue); !reason.isEmpty())
        return printerError(reason);
    return {};
}

PrinterState QueuePrinter::state()
{
    const auto queue = PrintQueue::query(m_name);
    if (!queue)
        return PrinterState{queue.errorNumber() == ErrorNumber::NoDefaultPrinter
                                ? PrinterState::Condition::NoDefaultPrinter
                                : PrinterState::Condition::Unreachable,
                            queue.error().description};
    return PrintQueue::stateOf(*queue);
}

} // namespace nx7
