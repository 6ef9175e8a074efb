#include "ticketprinter.h"

#include "escposprinter.h"
#include "printqueue.h"
#include "textrecord.h"
#include "ticketlog.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>

#include <cmath>

namespace nx7 {

namespace {

Error printerError(const QString &text)
{
    return Error::make(ErrorNumber::PrinterError, text);
}

QPageSize pageSizeOf(const QSizeF &mm)
{
    return QPageSize(mm, QPageSize::Millimeter, QStringLiteral("Ticket"), QPageSize::ExactMatch);
}

bool stopped(QPrinter::PrinterState state)
{
    return state == QPrinter::Error || state == QPrinter::Aborted;
}

// The receipt printer's settings of a target; the layout checked them when it was read.
std::optional<EscPos::Settings> escposSettings(const PrintTarget &target)
{
    return EscPos::parseSettings(target.name);
}

} // namespace

PrinterState TicketPrinter::state(const PrintTarget &target)
{
    const Status status = ready(target);
    if (status)
        return {};
    return PrinterState{PrinterState::Condition::Failed, status.error().description};
}

SystemTicketPrinter::SystemTicketPrinter() : m_escpos(std::make_unique<EscPosPrinter>()) {}

SystemTicketPrinter::~SystemTicketPrinter() = default;

QString SystemTicketPrinter::freeFileName(const QString &path)
{
    if (!QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString stem = info.dir().filePath(info.completeBaseName());
    for (int n = 2;; ++n) {
        const QString candidate = QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(suffix);
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}

Status SystemTicketPrinter::print(const PrintTarget &target, const QSizeF &pageSizeMm,
                                  int pageCount, const QString &jobName,
                                  const PagePainter &paintPage)
{
    if (target.kind == PrintTarget::Kind::PdfFile)
        return printPdf(target.name, pageSizeMm, pageCount, paintPage);
    if (target.kind == PrintTarget::Kind::EscPos) {
        const auto settings = escposSettings(target);
        if (!settings)
            return printerError(QStringLiteral("uscita escpos non valida: %1").arg(target.name));
        const Status printed = m_escpos->print(*settings, pageSizeMm, pageCount, paintPage);
        if (printed)
            qCInfo(lcTicket).noquote() << "ticket sent to receipt printer" << settings->address;
        return printed;
    }
    return printOnPrinter(target, pageSizeMm, pageCount, jobName, paintPage);
}

Status SystemTicketPrinter::printPdf(const QString &wanted, const QSizeF &pageSizeMm, int pageCount,
                                     const PagePainter &paintPage)
{
    const QFileInfo info(wanted);
    if (!info.absoluteDir().exists())
        return Error::make(ErrorNumber::PathNotFound,
                           QStringLiteral("La cartella dei ticket PDF non esiste: %1")
                               .arg(QDir::toNativeSeparators(info.absolutePath())));
    const QString path = freeFileName(wanted);
    // Made in memory, then written under a temporary name and renamed when complete: a
    // full disk leaves no half ticket behind and is reported, not taken for a printed one.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(pageSizeOf(pageSizeMm), QPageLayout::Portrait, QMarginsF(),
                                         QPageLayout::Millimeter));
        writer.setTitle(QStringLiteral("Ticket"));
        writer.setCreator(QStringLiteral("NX7Totem"));
        QPainter painter;
        if (!painter.begin(&writer))
            return printerError(QStringLiteral("Impossibile preparare il file PDF %1")
                                    .arg(QDir::toNativeSeparators(path)));
        for (int page = 0; page < pageCount; ++page) {
            if (page > 0)
                writer.newPage();
            paintPage(painter, page);
        }
        painter.end();
    }
    if (Status written = TextRecord::writeFileAtomically(path, pdf.data()); !written)
        return printerError(QStringLiteral("Il file PDF %1 non è stato scritto: %2")
                                .arg(QDir::toNativeSeparators(path), written.error().description));
    // A write cut short by a full disk is not always reported as an error: check the size.
    if (QFileInfo(path).size() != pdf.size()) {
        QFile::remove(path);
        return printerError(QStringLiteral("Il file PDF %1 non è stato scritto per intero "
                                           "(disco pieno?)")
                                .arg(QDir::toNativeSeparators(path)));
    }
    qCInfo(lcTicket).noquote() << "ticket written to" << QDir::toNativeSeparators(path);
    return {};
}

Status SystemTicketPrinter::printOnPrinter(const PrintTarget &target, const QSizeF &pageSizeMm,
                                           int pageCount, const QString &jobName,
                                           const PagePainter &paintPage)
{
    // QPrinter falls back silently to the default printer for an unknown name, and to
    // a PDF printer without a file when there is no print service: check first.
    const bool named = target.kind == PrintTarget::Kind::NamedPrinter;
    const QPrinterInfo info =
        named ? QPrinterInfo::printerInfo(target.name) : QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        if (QPrinterInfo::availablePrinterNames().isEmpty())
            return printerError(QStringLiteral("Nessuna stampante disponibile: il servizio di "
                                               "stampa non è attivo o non ha stampanti"));
        if (named)
            return printerError(
                QStringLiteral("La stampante \"%1\" non esiste; stampanti note: %2")
                    .arg(target.name, QPrinterInfo::availablePrinterNames().join(u", ")));
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
    printer.setPageLayout(QPageLayout(pageSizeOf(pageSizeMm), QPageLayout::Portrait, QMarginsF(),
                                      QPageLayout::Millimeter));
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
    qCInfo(lcTicket).noquote() << "ticket sent to printer" << info.printerName();
    return {};
}

Status SystemTicketPrinter::ready(const PrintTarget &target)
{
    if (target.kind == PrintTarget::Kind::EscPos) {
        const PrinterState now = state(target);
        if (now.canPrint())
            return {};
        return printerError(QStringLiteral("%1 (%2)").arg(now.text(), now.detail));
    }
    if (target.kind == PrintTarget::Kind::PdfFile) {
        const QFileInfo folder(QFileInfo(target.name).absolutePath());
        if (!folder.isDir() || !folder.isWritable())
            return printerError(QStringLiteral("La cartella dei ticket PDF %1 non esiste o non "
                                               "è scrivibile")
                                    .arg(QDir::toNativeSeparators(folder.filePath())));
        return {};
    }
    const QString name = target.kind == PrintTarget::Kind::NamedPrinter ? target.name : QString();
    auto queue = PrintQueue::query(name);
    if (!queue)
        return queue.error();
    if (const QString reason = PrintQueue::unreadyReason(*queue); !reason.isEmpty())
        return printerError(reason);
    return {};
}

PrinterState SystemTicketPrinter::state(const PrintTarget &target)
{
    if (target.kind == PrintTarget::Kind::EscPos) {
        const auto settings = escposSettings(target);
        if (!settings)
            return PrinterState{PrinterState::Condition::Failed,
                                QStringLiteral("uscita escpos non valida: %1").arg(target.name)};
        return m_escpos->state(*settings);
    }
    if (target.kind == PrintTarget::Kind::PdfFile)
        return TicketPrinter::state(target);
    const QString name = target.kind == PrintTarget::Kind::NamedPrinter ? target.name : QString();
    const auto queue = PrintQueue::query(name);
    if (!queue)
        return PrinterState{queue.errorNumber() == ErrorNumber::NoDefaultPrinter
                                ? PrinterState::Condition::NoDefaultPrinter
                                : PrinterState::Condition::Unreachable,
                            queue.error().description};
    return PrintQueue::stateOf(*queue);
}

Status ImageTicketPrinter::ready(const PrintTarget &)
{
    ++readyChecks;
    return notReady.number != 0 ? Status(notReady) : Status();
}

Status ImageTicketPrinter::print(const PrintTarget &target, const QSizeF &pageSizeMm, int pageCount,
                                 const QString &, const PagePainter &paintPage)
{
    targets.append(target);
    if (failWith.number != 0)
        return failWith;
    lastPages.clear();
    const QSize pixels(int(std::lround(pageSizeMm.width() * m_dotsPerMm)),
                       int(std::lround(pageSizeMm.height() * m_dotsPerMm)));
    const int dotsPerMeter = int(std::lround(m_dotsPerMm * 1000));
    for (int page = 0; page < pageCount; ++page) {
        QImage image(pixels, QImage::Format_Grayscale8);
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        image.fill(Qt::white);
        QPainter painter(&image);
        paintPage(painter, page);
        painter.end();
        lastPages.append(image);
    }
    return {};
}

} // namespace nx7
