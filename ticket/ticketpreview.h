#pragma once

#include "errors.h"
#include "reportvariable.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

namespace nx7 {

// A ticket made as the kiosk's print run makes it, but kept instead of printed: for a
// site that edits its layout and wants to see it, 1-bit dots of a receipt printer
// included, before printing.
namespace TicketPreview {

struct Rendered
{
    // The receipt printer's dots (black where a dot is printed), or the page at 300 dpi as
    // the print service or the PDF file receive it.
    QImage image;
    // Where the kiosk would print it, as staff name it ("la stampante di ricevute ...").
    QString output;
    // For a receipt printer: every byte it would receive; empty for the others.
    QByteArray receiptBytes;
};

// The print row of a ticket of `serviceName`, number 42 with 3 people ahead, issued at
// `now`, as the print job gives it to the report engine.
ReportVariables sampleTicket(const QString &serviceName, const QDateTime &now);

// The ticket of the layout at `layoutPath`. A layout the kiosk could not use gives the
// kiosk screen's message and the reason, as BadLayout or the file error.
Result<Rendered> render(const QString &layoutPath, const ReportVariables &ticket);

} // namespace TicketPreview
} // namespace nx7
