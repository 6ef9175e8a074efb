#pragma once

#include "printtarget.h"
#include "ticketprinter.h"

#include <QSizeF>

#include <memory>
#include <optional>

namespace nx7 {

// The kiosk's printers: the one of the output the layout names, made by the factory when
// the output changes and kept while it does not.
class SystemPrinters final : public Printers
{
public:
    SystemPrinters();
    ~SystemPrinters() override;
    SystemPrinters(const SystemPrinters &) = delete;
    SystemPrinters &operator=(const SystemPrinters &) = delete;

    TicketPrinter &printerFor(const PrintTarget &output) override;

    // The factory: the printer of an output, one line per kind.
    static std::unique_ptr<TicketPrinter> make(const PrintTarget &output);
    // Why no printer can be made for `output` (a receipt printer's options not understood);
    // empty when one can. The layout asks when it reads its output line.
    static QString problemOf(const PrintTarget &output);
    // The dots across a page of an output that prints each page as a picture of its own
    // (a receipt printer); nullopt for those that draw on the print service or a PDF file.
    static std::optional<int> dotsAcross(const PrintTarget &output);

private:
    std::optional<PrintTarget> m_output;
    std::unique_ptr<TicketPrinter> m_printer;
};

} // namespace nx7
