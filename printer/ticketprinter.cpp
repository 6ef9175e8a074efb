#include "ticketprinter.h"

namespace nx7 {

PrinterState TicketPrinter::state()
{
    const Status status = ready();
    if (status)
        return {};
    return PrinterState{PrinterState::Condition::Failed, status.error().description};
}

} // namespace nx7
