#pragma once

#include "errors.h"
#include "postgresserver.h"
#include "ticketprinter.h"
#include "ticketscreen.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

// What the benchmarks share: their kiosk's screen and printer, the temporary installations
// they issue tickets on, and the programs of nx7bench.
namespace nx7::bench {

// Accepts every ticket and paints nothing, whatever the output.
class NullPrinter final : public TicketPrinter, public Printers
{
public:
    TicketPrinter &printerFor(const PrintTarget &) override { return *this; }
    Status print(const QSizeF &, int, const QString &, const PagePainter &) override { return {}; }
    Status ready() override { return {}; }
};

// The kiosk screen: slot n issues for service firstId + (n - 1) % services. It records
// nothing, so that the memory figures are the ticket issue's own.
class BenchScreen final : public TicketScreen
{
public:
    BenchScreen(int firstId, int services);

    TicketContext &ticketContext() override { return context; }
    QString buttonCaption(int slot) const override;
    void showWaitingPanel() override {}
    void hideWaitingPanel() override {}
    void showNotice(const QString &) override {}
    void setScreenEnabled(bool) override {}
    QWidget *screenWindow() override { return nullptr; }

    TicketContext context;
};

// The value below which a share p of the values lies.
double percentile(std::vector<double> values, double p);

// The server database of a run: a SQLite file, or a database on a private PostgreSQL.
struct Backend
{
    QString name;
    std::unique_ptr<test::PostgresServer> postgres; // none for SQLite
};

Status makeServer(Backend &backend, const QString &folder);
// A server folder and a station on it, in `root`, the station made the current folder; the
// folder to go back to, or why nothing was made.
Result<QString> enterNewStation(const QTemporaryDir &root, Backend &backend);

// The programs of nx7bench.
struct IssueOptions
{
    int tickets = 3000;
    int kiosks = 5;
    bool render = true;
    bool check = false;
    bool estimate = true; // the one kiosk estimates each ticket's wait
    // The load run also with the installation's shared numbering, every kiosk on the same
    // services, beside the same run numbered by each kiosk (PostgreSQL only).
    bool shared = false;
    QStringList backends{QStringLiteral("sqlite"), QStringLiteral("postgresql")};
};
// The ticket issue timed on each backend, one kiosk and then several at once (issuebench).
int issueBench(const IssueOptions &options);
// One kiosk process of the load run: nx7bench --kiosk-worker SERVER FIRST_ID TICKETS RENDER.
int kioskWorker(const QStringList &args);
// One counter station of the load run, until the stop file appears.
int counterWorker(const QString &server, const QString &stopFile);
// The sample ticket printed for real, through the print service and in ESC/POS (printbench).
int printersComparison(int tickets);
// An office day simulated on the real call watching and wait estimate (waitbench).
int waitBench(int days);
// The tests' fake receipt printer, run by hand (fakeprinter).
int fakePrinter(const QDir &folder);

} // namespace nx7::bench
