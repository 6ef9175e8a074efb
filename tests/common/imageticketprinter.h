#pragma once

#include "ticketprinter.h"

#include <QImage>
#include <QList>

namespace nx7::test {

// Paints the pages into images in memory and keeps the last ticket's pages; it stands in
// for the printer of every output.
class ImageTicketPrinter final : public TicketPrinter, public Printers
{
public:
    explicit ImageTicketPrinter(qreal dotsPerMm = 8.0) : m_dotsPerMm(dotsPerMm) {}

    TicketPrinter &printerFor(const PrintTarget &output) override
    {
        m_output = output;
        return *this;
    }
    Status print(const QSizeF &pageSizeMm, int pageCount, const QString &jobName,
                 const PagePainter &paintPage) override;
    Status ready() override;

    // The output of every print call, in order.
    QList<PrintTarget> targets;
    QList<QImage> lastPages;
    // When set, every print fails with it and nothing is painted.
    Error failWith;
    // When set, the printer reports itself not ready with it.
    Error notReady;
    int readyChecks = 0;

private:
    qreal m_dotsPerMm;
    PrintTarget m_output;
};

} // namespace nx7::test
