#pragma once

#include "errors.h"
#include "printtarget.h"

#include <QPageLayout>
#include <QPageSize>
#include <QSizeF>

namespace nx7 {

// The page of one ticket, exactly the layout's size and without margins: the print
// service and the PDF file take the same.
inline QPageLayout ticketPageLayout(const QSizeF &pageSizeMm)
{
    return QPageLayout(QPageSize(pageSizeMm, QPageSize::Millimeter, QStringLiteral("Ticket"),
                                 QPageSize::ExactMatch),
                       QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter);
}

inline Error printerError(const QString &text)
{
    return Error::make(ErrorNumber::PrinterError, text);
}

} // namespace nx7
