#pragma once

#include "errors.h"
#include "escpos.h"
#include "escposlink.h"
#include "printerstate.h"
#include "ticketprinter.h"

#include <QSizeF>

#include <functional>
#include <memory>

namespace nx7 {

// A receipt printer spoken to directly in ESC/POS: the session (status questions, raster,
// cut) over a link (escposlink.h) that is kept between tickets and made again when it
// broke. Every wait is bounded: the kiosk runs all this on its one thread.
class EscPosPrinter final : public TicketPrinter
{
public:
    struct Timeouts
    {
        int replyMs = 300;   // each status reply
        int connectMs = 500; // a network printer's port
        int stallMs = 5000;  // a write that makes no progress
        // The replies after the cut: a printer with a small receive buffer takes the
        // request in only once it has printed most of the ticket.
        int afterCutMs = 3000;
    };
    using LinkOpener = std::function<Result<std::unique_ptr<EscPosLink>>(
        const EscPos::Settings &settings, int connectMs)>;

    explicit EscPosPrinter(EscPos::Settings settings, LinkOpener open = openEscPosLink);
    ~EscPosPrinter() override;
    EscPosPrinter(const EscPosPrinter &) = delete;
    EscPosPrinter &operator=(const EscPosPrinter &) = delete;

    // Asks DLE EOT 1 to 4, one at a time; Unreachable when the printer cannot be reached or
    // does not answer in time, Failed when the line keeps sending without being asked.
    PrinterState state() override;
    // Ready when state() says the printer can print.
    Status ready() override;

    // Renders each page to raster at the printer's width and sends it after ESC @, then the
    // feed and the cut; then asks the state once more, on the same connection. An error
    // when a byte could not be sent, when that connection broke or fell silent before the
    // answer, or when the printer reports after the cut that it cannot print (the ticket
    // may not have come out whole).
    Status print(const QSizeF &pageSizeMm, int pageCount, const QString &jobName,
                 const PagePainter &paintPage) override;

    // Every byte of a ticket as print() sends it: each page rendered at the printer's
    // width, as raster, after ESC @ and before the feed and the cut.
    static QByteArray ticketBytes(const EscPos::Settings &settings, const QSizeF &pageSizeMm,
                                  int pageCount, const PagePainter &paintPage);

    const EscPos::Settings &settings() const { return m_settings; }
    // The state the printer reported after the last ticket's cut.
    const PrinterState &stateAfterLastTicket() const { return m_afterCut; }
    // Of the last print: bytes sent and the time the rendering took.
    qint64 lastTicketBytes() const { return m_lastBytes; }
    double lastRenderMs() const { return m_lastRenderMs; }

    void setTimeouts(Timeouts timeouts) { m_timeouts = timeouts; }

private:
    // The link to the printer, open.
    Result<EscPosLink *> link();
    // One exchange of the four requests on an open link; nullopt (and the reason) on I/O
    // failure, a missing reply, or a line that keeps sending.
    // `flooding` is set when the line never fell quiet before the question.
    std::optional<EscPos::StatusReplies> exchange(EscPosLink &link, int replyMs, QString *problem,
                                                  bool *flooding);
    // The four requests on the open link and no other; a link that fails is closed, and
    // `lost` tells whether it broke or stopped answering (rather than flooding the line).
    PrinterState askOn(EscPosLink &link, int replyMs, bool *lost);
    Status send(const QByteArray &bytes);

    EscPos::Settings m_settings;
    LinkOpener m_open;
    std::unique_ptr<EscPosLink> m_link;
    bool m_linkUsed = false; // the open link has carried a question or a ticket
    Timeouts m_timeouts;
    PrinterState m_afterCut;
    qint64 m_lastBytes = 0;
    double m_lastRenderMs = 0;
};

} // namespace nx7
