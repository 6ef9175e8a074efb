#pragma once

#include "ticketprinter.h"

namespace nx7 {

// Tickets written as PDF files, one file a ticket.
class PdfFilePrinter final : public TicketPrinter
{
public:
    explicit PdfFilePrinter(QString path) : m_path(std::move(path)) {}

    Status print(const QSizeF &pageSizeMm, int pageCount, const QString &jobName,
                 const PagePainter &paintPage) override;
    // Ready when the file's folder can be written.
    Status ready() override;

    // The path itself, or, when a file of that name exists, the first free
    // "name-2.pdf", "name-3.pdf", ...: a ticket never overwrites another.
    static QString freeFileName(const QString &path);

private:
    QString m_path;
};

} // namespace nx7
