// The sample ticket printed for real, on SQLite, side by side: through the print service
// (a private CUPS scheduler, a raw queue) and straight to a receipt printer in ESC/POS (the
// test suite's fake printer on a loopback port), and with no printing at all.
#include "benchkiosk.h"
#include "clock.h"
#include "cupsserver.h"
#include "escposprinter.h"
#include "fakereceiptprinter.h"
#include "filenames.h"
#include "stationstate.h"
#include "stores.h"
#include "systemprinters.h"
#include "testshell.h"
#include "ticketfakes.h"
#include "ticketissue.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>

namespace nx7::bench {

namespace {

// The kiosk's printers, timing the painting of each ticket.
class TimedPrinter final : public TicketPrinter, public Printers
{
public:
    explicit TimedPrinter(Printers &inner) : m_inner(inner) {}
    TicketPrinter &printerFor(const PrintTarget &output) override
    {
        m_chosen = &m_inner.printerFor(output);
        return *this;
    }
    Status print(const QSizeF &pageSizeMm, int pageCount, const QString &jobName,
                 const PagePainter &paintPage) override
    {
        paintMs = 0;
        return m_chosen->print(pageSizeMm, pageCount, jobName, [&](QPainter &painter, int page) {
            QElapsedTimer painting;
            painting.start();
            paintPage(painter, page);
            paintMs += double(painting.nsecsElapsed()) / 1e6;
        });
    }
    Status ready() override { return m_chosen->ready(); }
    PrinterState state() override { return m_chosen->state(); }
    // The printer of the last output asked for.
    TicketPrinter &chosen() const { return *m_chosen; }
    double paintMs = 0;

private:
    Printers &m_inner;
    TicketPrinter *m_chosen = nullptr;
};

struct PrintFigures
{
    std::vector<double> issue;    // touch -> the issue gave the screen back
    std::vector<double> lastByte; // touch -> the last byte of the ticket out
    std::vector<double> render;   // painting (print service) or painting and raster
    double bytes = 0;
    QString note;
};

using SteadyClock = std::chrono::steady_clock;

double millisSince(SteadyClock::time_point from, SteadyClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Issues `tickets` tickets with the sample layout sent to `output`; `lastByte` waits for
// ticket i to be out and says when it was, `bytes` tells its size.
PrintFigures
printTickets(const QByteArray &output, int tickets,
             const std::function<std::optional<SteadyClock::time_point>(int)> &lastByte,
             const std::function<qint64(TicketPrinter &)> &bytes)
{
    PrintFigures figures;
    QTemporaryDir root;
    const QString server = root.filePath(QStringLiteral("server"));
    Backend sqlite{QStringLiteral("SQLite"), {}};
    const auto previous = enterNewStation(root, sqlite);
    if (!previous) {
        figures.note = previous.error().description;
        return figures;
    }
    QFile sample(QStringLiteral(NX7_TICKET_LAYOUT));
    sample.open(QIODevice::ReadOnly);
    QFile layout(FileName::TicketLayout);
    layout.open(QIODevice::WriteOnly);
    // "output none": the shipped layout as it is, and a printer that takes nothing.
    layout.write(output == "output none" ? sample.readAll()
                                         : sample.readAll().replace("output default", output));
    layout.close();

    StationState state;
    state.serverPath = server;
    test::TestShell shell;
    SystemClock clock;
    test::FakeWaiter waiter;
    SystemPrinters system;
    NullPrinter nothing;
    TimedPrinter printer(output == "output none" ? static_cast<Printers &>(nothing) : system);
    TicketIssue issue(Stores(QDir::currentPath()), state, shell, clock, waiter, printer);
    BenchScreen screen(1, 6);
    qint64 totalBytes = 0;
    for (int i = 0; i < tickets && figures.note.isEmpty(); ++i) {
        const auto touch = SteadyClock::now();
        issue.IssueTicket(screen, 1 + i % 6);
        const auto given = SteadyClock::now();
        const auto out = lastByte(i);
        if (!shell.messages.isEmpty() || !out) {
            figures.note = QStringLiteral("ticket %1 did not come out").arg(i + 1);
            break;
        }
        figures.issue.push_back(millisSince(touch, given));
        figures.lastByte.push_back(millisSince(touch, *out));
        const auto *escpos = dynamic_cast<const EscPosPrinter *>(&printer.chosen());
        figures.render.push_back(escpos && escpos->lastTicketBytes() > 0 ? escpos->lastRenderMs()
                                                                         : printer.paintMs);
        totalBytes += bytes(printer.chosen());
    }
    QDir::setCurrent(*previous);
    if (!figures.issue.empty())
        figures.bytes = double(totalBytes) / double(figures.issue.size());
    return figures;
}

// The print service: a private scheduler with a raw queue. This machine's CUPS has no
// filters, so nothing is written past the scheduler: the last byte is taken to be out when
// the scheduler holds the whole job in its spool (a PDF ends with %%EOF), which is earlier
// than a real printer would have it.
PrintFigures printServiceRun(int tickets)
{
    test::CupsServer cups;
    if (!cups.ok())
        return PrintFigures{{}, {}, {}, 0, cups.error()};
    if (!test::CupsServer::tool(QStringLiteral("lpadmin"),
                                {"-p", "Biglietti", "-E", "-v", "file:/dev/null", "-m", "raw"}))
        return PrintFigures{{}, {}, {}, 0, QStringLiteral("lpadmin failed")};
    qint64 size = 0;
    const auto spooled = [&](int index) -> std::optional<SteadyClock::time_point> {
        const QString job =
            QDir(cups.folder())
                .filePath(QStringLiteral("d%1-001").arg(index + 1, 5, 10, QChar(u'0')));
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            QFile file(job);
            if (file.open(QIODevice::ReadOnly) && file.readAll().trimmed().endsWith("%%EOF")) {
                size = file.size();
                return SteadyClock::now();
            }
            QThread::usleep(200);
        }
        return std::nullopt;
    };
    return printTickets("output printer Biglietti", tickets, spooled,
                        [&](TicketPrinter &) { return size; });
}

PrintFigures escposRun(int tickets)
{
    test::FakeReceiptPrinter printer;
    if (!printer.ok())
        return PrintFigures{{}, {}, {}, 0, QStringLiteral("no fake printer")};
    const auto cut = [&](int index) -> std::optional<SteadyClock::time_point> {
        if (!printer.waitForTickets(index + 1, 5000))
            return std::nullopt;
        return printer.cutTimes().at(index);
    };
    return printTickets("output escpos " + printer.tcpAddress().toUtf8(), tickets, cut,
                        [](TicketPrinter &chosen) {
                            const auto *escpos = dynamic_cast<const EscPosPrinter *>(&chosen);
                            return escpos ? escpos->lastTicketBytes() : 0;
                        });
}

} // namespace

int printersComparison(int tickets)
{
    const std::vector<PrintFigures> runs{printServiceRun(tickets), escposRun(tickets),
                                         printTickets(
                                             "output none", tickets,
                                             [](int) { return SteadyClock::now(); },
                                             [](TicketPrinter &) { return 0; })};
    std::printf("%d tickets of the sample layout per run, SQLite server database\n", tickets);
    std::printf("%-38s%18s%18s%18s\n", "", "print service", "ESC/POS 576 dots", "no printing");
    const auto row = [&](const char *label, const char *unit, auto value) {
        std::printf("%-38s", label);
        for (const PrintFigures &run : runs)
            std::printf("%15.2f %-2s", value(run), unit);
        std::printf("\n");
    };
    row("touch -> last byte out: median", "ms",
        [](const PrintFigures &f) { return percentile(f.lastByte, 0.5); });
    row("touch -> last byte out: 99th pct", "ms",
        [](const PrintFigures &f) { return percentile(f.lastByte, 0.99); });
    row("touch -> screen given back: median", "ms",
        [](const PrintFigures &f) { return percentile(f.issue, 0.5); });
    row("touch -> screen given back: 99th pct", "ms",
        [](const PrintFigures &f) { return percentile(f.issue, 0.99); });
    row("render alone: median", "ms",
        [](const PrintFigures &f) { return percentile(f.render, 0.5); });
    row("bytes per ticket", "B", [](const PrintFigures &f) { return f.bytes; });
    std::printf("(print service: render is the painting into the PDF job; the last byte is the "
                "whole job in the scheduler's spool, with no printer behind it. ESC/POS: render "
                "is painting and raster; the last byte is the cut received by the printer. No "
                "printing: the ticket issue alone, nothing painted)\n");
    bool ok = true;
    for (const PrintFigures &run : runs) {
        if (!run.note.isEmpty())
            std::printf("%s\n", qPrintable(run.note));
        ok &= run.note.isEmpty();
    }
    return ok ? 0 : 1;
}

} // namespace nx7::bench
