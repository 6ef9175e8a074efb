#pragma once

#include "errors.h"
#include "printerstate.h"
#include "printtarget.h"

#include <QSizeF>
#include <QString>

#include <functional>

class QPainter;

namespace nx7 {

// One output of tickets: a queue of the print service, a PDF file, a receipt printer. The
// printer is chosen once for the layout's output line (Printers) and then only asked to
// print and how it is.
class TicketPrinter
{
public:
    using PagePainter = std::function<void(QPainter &painter, int page)>;

    virtual ~TicketPrinter() = default;
    // Prints `pageCount` pages of `pageSizeMm`; nothing is painted when the printer cannot
    // be used, and the error says why.
    virtual Status print(const QSizeF &pageSizeMm, int pageCount, const QString &jobName,
                         const PagePainter &paintPage) = 0;
    // Whether a ticket sent now would come out, asked before a number is used; the error
    // says why not.
    virtual Status ready() = 0;
    // The printer's state for the kiosk screen, asked between tickets. By default what
    // ready() says: Ready, or Failed with its reason.
    virtual PrinterState state();
};

// The printer of each output line. The one a layout names is kept while the layout keeps
// naming it (a receipt printer keeps its connection between tickets); tests and the
// benchmark put their own printers in its place.
class Printers
{
public:
    virtual ~Printers() = default;
    virtual TicketPrinter &printerFor(const PrintTarget &output) = 0;
};

} // namespace nx7
