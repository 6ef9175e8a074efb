#pragma once

#include "errors.h"
#include "printerstate.h"
#include "ticketlayout.h"

#include <QImage>
#include <QList>
#include <QSizeF>

#include <functional>
#include <memory>

class QPainter;

namespace nx7 {

class EscPosPrinter;

namespace ErrorNumber {
constexpr int PrinterError = 482;
// The print service answers but has no default queue for a layout that prints there.
constexpr int NoDefaultPrinter = 483;
} // namespace ErrorNumber

// Where the report engine's pages end up; tests and the benchmark replace it.
class TicketPrinter
{
public:
    using PagePainter = std::function<void(QPainter &painter, int page)>;

    virtual ~TicketPrinter() = default;
    // Prints `pageCount` pages of `pageSizeMm`; nothing is painted when the target cannot
    // be used, and the error says why.
    virtual Status print(const PrintTarget &target, const QSizeF &pageSizeMm, int pageCount,
                         const QString &jobName, const PagePainter &paintPage) = 0;
    // Whether a ticket sent to the target now would come out, asked before a number is
    // used; the error says why not.
    virtual Status ready(const PrintTarget &target) = 0;
    // The printer's state for the kiosk screen, asked between tickets. By default what
    // ready() says: Ready, or Failed with its reason.
    virtual PrinterState state(const PrintTarget &target);
};

// The printers of the system's print service (CUPS) through Qt, and PDF files.
// Receipt printers of `output escpos` are spoken to directly (EscPosPrinter).
class SystemTicketPrinter final : public TicketPrinter
{
public:
    SystemTicketPrinter();
    ~SystemTicketPrinter() override;
    SystemTicketPrinter(const SystemTicketPrinter &) = delete;
    SystemTicketPrinter &operator=(const SystemTicketPrinter &) = delete;

    Status print(const PrintTarget &target, const QSizeF &pageSizeMm, int pageCount,
                 const QString &jobName, const PagePainter &paintPage) override;
    // A printer is ready when the print service knows it and reports it neither stopped,
    // rejecting, paused nor in error; a PDF file when its folder can be written.
    Status ready(const PrintTarget &target) override;
    PrinterState state(const PrintTarget &target) override;

    // The receipt printer of the ESC/POS outputs (its connection is kept between tickets).
    EscPosPrinter &escpos() { return *m_escpos; }

    // The path itself, or, when a file of that name exists, the first free
    // "name-2.pdf", "name-3.pdf", ...: a ticket never overwrites another.
    static QString freeFileName(const QString &path);

private:
    Status printPdf(const QString &path, const QSizeF &pageSizeMm, int pageCount,
                    const PagePainter &paintPage);
    Status printOnPrinter(const PrintTarget &target, const QSizeF &pageSizeMm, int pageCount,
                          const QString &jobName, const PagePainter &paintPage);

    std::unique_ptr<EscPosPrinter> m_escpos;
};

// Paints the pages into images in memory and keeps the last ticket's pages: a printer
// for the benchmark and the tests.
class ImageTicketPrinter final : public TicketPrinter
{
public:
    explicit ImageTicketPrinter(qreal dotsPerMm = 8.0) : m_dotsPerMm(dotsPerMm) {}

    Status print(const PrintTarget &target, const QSizeF &pageSizeMm, int pageCount,
                 const QString &jobName, const PagePainter &paintPage) override;
    Status ready(const PrintTarget &target) override;

    // Every print call, in order.
    QList<PrintTarget> targets;
    QList<QImage> lastPages;
    // When set, every print fails with it and nothing is painted.
    Error failWith;
    // When set, the printer reports itself not ready with it.
    Error notReady;
    int readyChecks = 0;

private:
    qreal m_dotsPerMm;
};

} // namespace nx7
