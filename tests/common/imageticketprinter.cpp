#include "imageticketprinter.h"

#include <QPainter>

#include <cmath>

namespace nx7::test {

Status ImageTicketPrinter::ready()
{
    ++readyChecks;
    return notReady.number != 0 ? Status(notReady) : Status();
}

Status ImageTicketPrinter::print(const QSizeF &pageSizeMm, int pageCount, const QString &,
                                 const PagePainter &paintPage)
{
    targets.append(m_output);
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

} // namespace nx7::test
