#pragma once

#include "ticketprinter.h"

namespace nx7 {

// A queue of the system's print service (CUPS), printed on through Qt: the one named, or
// the default queue when the name is empty.
class QueuePrinter final : public TicketPrinter
{
public:
    explicit QueuePrinter(QString name = {}) : m_name(std::move(name)) {}

    Status print(const QSizeF &pageSizeMm, int pageCount, const QString &jobName,
                 const PagePainter &paintPage) override;
    // Ready when the print service knows the queue and reports it neither stopped,
    // rejecting, paused nor in error.
    Status ready() override;
    PrinterState state() override;

private:
    QString m_name;
};

} // namespace nx7
