// Issues tickets through the real ticket issue on temporary installations and reports the
// time per ticket, the throughput of several kiosks at once and the peak memory, for the
// server database as a SQLite file and on PostgreSQL (a private server over loopback), side
// by side. The print run renders each ticket into an image in memory (or, with --no-render,
// paints nothing) instead of a printer.
//
//   nx7bench [TICKETS] [--no-render] [--backend sqlite|postgresql|both] [--kiosks K] [--check]
//   nx7bench --printers [TICKETS]
//   nx7bench --fake-printer FOLDER
//
// The load run starts K kiosk processes (this program in a headless kiosk mode, each with
// its own station folder and its own services) and K simulated counter stations that mark
// the oldest rows called and lower "Attesa" meanwhile. --check then verifies that every
// kiosk's numbers are in the queue exactly once per service, and fails otherwise.
//
// --printers prints the sample ticket for real, on SQLite, side by side: through the print
// service (a private CUPS scheduler, a raw queue writing to a file) and straight to a
// receipt printer in ESC/POS (the test suite's fake printer on a loopback port), timing
// the touch to the last byte out, the rendering alone and the bytes of each ticket.
//
// --fake-printer runs that fake printer for trying the kiosk by hand: it prints the
// "output escpos" lines that reach it, takes states on its standard input (ready, near-end,
// paper-out, cover-open, offline, cutter-error, silent, flooding; reset-mid-ticket and
// no-reset for a printer that drops its connection after 12 kB; quit) and saves each
// ticket it receives as FOLDER/ticket-N.png.

#include "clock.h"
#include "cupsserver.h"
#include "database.h"
#include "escposprinter.h"
#include "fakereceiptprinter.h"
#include "filenames.h"
#include "installation.h"
#include "postgresserver.h"
#include "shell.h"
#include "stationstate.h"
#include "stores.h"
#include "tables.h"
#include "ticketissue.h"
#include "ticketprinter.h"
#include "timedwait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace nx7;

class BenchShell final : public Shell
{
public:
    int messages = 0;
    void messageBox(QWidget *, Icon, const QString &, const QString &text) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    int execModal(QDialog &) override { return 0; }
    QString browseFolder(QWidget *, const QString &) override { return {}; }
    void endProgram() override { m_ended = true; }
    bool programEnded() const override { return m_ended; }

private:
    bool m_ended = false;
};

class NoWait final : public Waiter
{
public:
    void wait(qint32) override {}
};

// Accepts every ticket and paints nothing.
class NullPrinter final : public TicketPrinter
{
public:
    Status print(const PrintTarget &, const QSizeF &, int, const QString &,
                 const PagePainter &) override
    {
        return {};
    }
    Status ready(const PrintTarget &) override { return {}; }
};

class BenchScreen final : public TicketScreen
{
public:
    TicketContext context;
    TicketContext &ticketContext() override { return context; }
    QString buttonCaption(int slot) const override
    {
        return QStringLiteral("Servizio %1 ").arg(context.slotServiceId[slot].toInt());
    }
    void showWaitingPanel() override {}
    void hideWaitingPanel() override {}
    void showNotice(const QString &) override {}
    void setScreenEnabled(bool) override {}
    QWidget *screenWindow() override { return nullptr; }
};

double percentile(std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto index =
        size_t(std::min<double>(sorted.size() - 1, p * double(sorted.size() - 1) + 0.5));
    return sorted[index];
}

constexpr int kServicesPerKiosk = 4;

struct Timings
{
    std::vector<double> millis;
    bool failed = false;
};

// One kiosk issuing `tickets` tickets on services firstId.. firstId + services - 1, with the
// station folder as the current directory.
Timings issueTickets(const QString &server, int firstId, int services, int tickets, bool render)
{
    StationState state;
    state.serverPath = server;
    state.waitMessageEnabled = true; // the wait itself costs nothing here
    BenchShell shell;
    SystemClock clock;
    NoWait waiter;
    ImageTicketPrinter imagePrinter(8.0); // 203 dpi, a thermal receipt printer
    NullPrinter nullPrinter;
    TicketPrinter &printer = render ? static_cast<TicketPrinter &>(imagePrinter) : nullPrinter;
    TicketIssue issue(Stores(QDir::currentPath()), state, shell, clock, waiter, printer);
    BenchScreen screen;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        screen.context.slotNextNumber[slot] = 1;
        screen.context.slotServiceId[slot] = firstId + (slot - 1) % services;
    }
    screen.context.screenDateText = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
    Timings result;
    result.millis.reserve(size_t(tickets));
    for (int i = 0; i < tickets && !shell.programEnded(); ++i) {
        QElapsedTimer one;
        one.start();
        issue.IssueTicket(screen, 1 + i % services);
        result.millis.push_back(double(one.nsecsElapsed()) / 1e6);
    }
    result.failed =
        shell.programEnded() || shell.messages > 0 || int(result.millis.size()) < tickets;
    return result;
}

// A counter station: calls the oldest ticket not yet called and lowers its service's
// waiting count, in one transaction, until the stop file appears.
int runCounterStation(const QString &server, const QString &stopFile)
{
    int called = 0;
    int failures = 0;
    while (!QFile::exists(stopFile)) {
        auto db = Stores(QDir::currentPath()).server(server);
        if (!db) {
            ++failures;
            QThread::msleep(20);
            continue;
        }
        const bool pg = db->isPostgres();
        bool done = false;
        if (db->beginTransaction()) {
            auto oldest =
                db->select(pg ? QStringLiteral("SELECT \"ID\", \"ServizioID\" FROM "
                                               "\"Codafromtotem\" WHERE NOT \"SeChiamato\" "
                                               "ORDER BY \"ID\" LIMIT 1 FOR UPDATE SKIP LOCKED")
                              : QStringLiteral("SELECT rowid, \"ServizioID\" FROM "
                                               "\"Codafromtotem\" WHERE \"SeChiamato\" = 0 "
                                               "ORDER BY rowid LIMIT 1"));
            Status status = oldest ? Status{} : Status(oldest.error());
            if (status && !oldest->isEmpty()) {
                const QVariantList row = oldest->first();
                status = db->exec(
                    pg ? QStringLiteral(
                             "UPDATE \"Codafromtotem\" SET \"SeChiamato\" = true WHERE \"ID\" = ?")
                       : QStringLiteral(
                             "UPDATE \"Codafromtotem\" SET \"SeChiamato\" = -1 WHERE rowid = ?"),
                    {row.at(0)});
                if (status)
                    status = db->exec(
                        QStringLiteral("UPDATE \"Servizi\" SET \"Attesa\" = \"Attesa\" - 1 "
                                       "WHERE \"ID\" = ? AND \"Attesa\" > 0"),
                        {row.at(1)});
                done = bool(status);
            }
            if (status)
                status = db->commit();
            if (!status) {
                db->rollback();
                ++failures;
            } else if (done) {
                ++called;
            }
        } else {
            ++failures;
        }
        QThread::msleep(done ? 2 : 10);
    }
    std::printf("called %d failures %d\n", called, failures);
    return 0;
}

struct Backend
{
    QString name;
    std::unique_ptr<test::PostgresServer> postgres; // none for SQLite
};

Status makeServer(Backend &backend, const QString &folder)
{
    Installation::ServerOptions options;
    options.activeServices = 20;
    if (!backend.postgres)
        return Installation::createServer(folder, options);
    const QString database = backend.postgres->createDatabase(QStringLiteral("bench"));
    if (database.isEmpty())
        return Error::make(ErrorNumber::CannotOpenDatabase, backend.postgres->error());
    return Installation::createPostgresServer(
        folder, backend.postgres->connectionString(database, true), options);
}

struct Figures
{
    double median = 0;
    double p99 = 0;
    double throughput = 0;
    double peakMiB = 0;
    bool ok = false;
    QString note;
};

// A server folder and a station on it, in `root`, the station made the current folder; the
// folder to go back to, or why nothing was made.
Result<QString> enterNewStation(const QTemporaryDir &root, Backend &backend)
{
    const QString server = root.filePath(QStringLiteral("server"));
    const QString station = root.filePath(QStringLiteral("station"));
    Status made = makeServer(backend, server);
    if (made)
        made = Installation::createStation(station, server);
    if (!made)
        return made.error();
    QString previous = QDir::currentPath();
    QDir::setCurrent(station);
    return previous;
}

Figures singleKiosk(Backend &backend, int tickets, bool render)
{
    Figures figures;
    QTemporaryDir root;
    const QString server = root.filePath(QStringLiteral("server"));
    const auto previous = enterNewStation(root, backend);
    if (!previous) {
        figures.note = previous.error().description;
        return figures;
    }
    QFile::copy(QStringLiteral(NX7_TICKET_LAYOUT), FileName::TicketLayout);
    QElapsedTimer total;
    total.start();
    Timings timings = issueTickets(server, 1, 6, tickets, render);
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    QDir::setCurrent(*previous);
    std::sort(timings.millis.begin(), timings.millis.end());
    figures.median = percentile(timings.millis, 0.50);
    figures.p99 = percentile(timings.millis, 0.99);
    figures.throughput = double(timings.millis.size()) / seconds;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    figures.peakMiB = double(usage.ru_maxrss) / 1024.0;
    figures.ok = !timings.failed;
    if (timings.failed)
        figures.note =
            QStringLiteral("the issue failed after %1 tickets").arg(timings.millis.size());
    return figures;
}

// Every kiosk numbers its own services from 1: each number once per service, none lost.
QString checkQueue(const QString &server, int kiosks, int perKiosk)
{
    auto db = Stores(QDir::currentPath()).server(server);
    if (!db)
        return db.error().description;
    auto rows = RecordSet::openTable(*db, Table::Queue);
    if (!rows)
        return rows.error().description;
    std::map<int, std::vector<int>> numbers;
    for (; !rows->eof(); rows->moveNext())
        numbers[rows->value(Field::QueueServiceId)->toInt()].push_back(
            rows->value(Field::QueueNumber)->toInt());
    if (rows->recordCount() != kiosks * perKiosk)
        return QStringLiteral("%1 queue rows for %2 tickets")
            .arg(rows->recordCount())
            .arg(kiosks * perKiosk);
    for (auto &[service, issued] : numbers) {
        std::sort(issued.begin(), issued.end());
        for (size_t i = 0; i < issued.size(); ++i) {
            if (issued[i] != int(i) + 1)
                return QStringLiteral("service %1: number %2 missing or twice")
                    .arg(service)
                    .arg(i + 1);
        }
    }
    return {};
}

Figures loadRun(Backend &backend, int kiosks, int tickets, bool render, bool check)
{
    Figures figures;
    QTemporaryDir root;
    const QString server = root.filePath(QStringLiteral("server"));
    if (Status made = makeServer(backend, server); !made) {
        figures.note = made.error().description;
        return figures;
    }
    const int perKiosk = std::max(1, tickets / kiosks);
    const QString stopFile = root.filePath(QStringLiteral("stop"));
    std::vector<std::unique_ptr<QProcess>> kioskProcesses;
    std::vector<std::unique_ptr<QProcess>> counters;
    const QString self = QCoreApplication::applicationFilePath();
    for (int k = 0; k < kiosks; ++k) {
        const QString station = root.filePath(QStringLiteral("station%1").arg(k + 1));
        if (Status made = Installation::createStation(station, server); !made) {
            figures.note = made.error().description;
            return figures;
        }
        QFile::copy(QStringLiteral(NX7_TICKET_LAYOUT),
                    QDir(station).filePath(FileName::TicketLayout));
    }
    for (int c = 0; c < kiosks; ++c) {
        auto counter = std::make_unique<QProcess>();
        counter->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        counter->start(self, {QStringLiteral("--counter-worker"), server, stopFile});
        counters.push_back(std::move(counter));
    }
    QElapsedTimer total;
    total.start();
    for (int k = 0; k < kiosks; ++k) {
        auto kiosk = std::make_unique<QProcess>();
        kiosk->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        kiosk->setWorkingDirectory(root.filePath(QStringLiteral("station%1").arg(k + 1)));
        kiosk->start(self, {QStringLiteral("--kiosk-worker"), server,
                            QString::number(1 + k * kServicesPerKiosk), QString::number(perKiosk),
                            render ? QStringLiteral("1") : QStringLiteral("0")});
        kioskProcesses.push_back(std::move(kiosk));
    }
    std::vector<double> millis;
    bool failed = false;
    for (auto &kiosk : kioskProcesses) {
        kiosk->waitForFinished(-1);
        failed |= kiosk->exitStatus() != QProcess::NormalExit || kiosk->exitCode() != 0;
        const QList<QByteArray> lines = kiosk->readAllStandardOutput().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("rss "))
                figures.peakMiB = std::max(figures.peakMiB, line.mid(4).toDouble() / 1024.0);
            else if (!line.isEmpty())
                millis.push_back(line.toDouble());
        }
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    QFile stop(stopFile);
    stop.open(QIODevice::WriteOnly);
    stop.close();
    QString counted;
    for (auto &counter : counters) {
        counter->waitForFinished(30000);
        counted +=
            QString::fromUtf8(counter->readAllStandardOutput()).trimmed() + QStringLiteral("; ");
    }
    std::sort(millis.begin(), millis.end());
    figures.median = percentile(millis, 0.50);
    figures.p99 = percentile(millis, 0.99);
    figures.throughput = double(millis.size()) / seconds;
    figures.ok = !failed && int(millis.size()) == perKiosk * kiosks;
    figures.note = QStringLiteral("stations: ") + counted;
    if (check && figures.ok) {
        const QString problem = checkQueue(server, kiosks, perKiosk);
        figures.ok = problem.isEmpty();
        figures.note +=
            problem.isEmpty() ? QStringLiteral("check: every number once, none lost") : problem;
    }
    if (failed)
        figures.note += QStringLiteral(" a kiosk failed");
    return figures;
}

// The kiosk's printer, timing the painting of each ticket.
class TimedPrinter final : public TicketPrinter
{
public:
    explicit TimedPrinter(TicketPrinter &inner) : m_inner(inner) {}
    Status print(const PrintTarget &target, const QSizeF &pageSizeMm, int pageCount,
                 const QString &jobName, const PagePainter &paintPage) override
    {
        paintMs = 0;
        return m_inner.print(target, pageSizeMm, pageCount, jobName,
                             [&](QPainter &painter, int page) {
                                 QElapsedTimer painting;
                                 painting.start();
                                 paintPage(painter, page);
                                 paintMs += double(painting.nsecsElapsed()) / 1e6;
                             });
    }
    Status ready(const PrintTarget &target) override { return m_inner.ready(target); }
    double paintMs = 0;

private:
    TicketPrinter &m_inner;
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
             const std::function<qint64(SystemTicketPrinter &)> &bytes)
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
    BenchShell shell;
    SystemClock clock;
    NoWait waiter;
    SystemTicketPrinter system;
    NullPrinter nothing;
    TimedPrinter printer(output == "output none" ? static_cast<TicketPrinter &>(nothing) : system);
    TicketIssue issue(Stores(QDir::currentPath()), state, shell, clock, waiter, printer);
    BenchScreen screen;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        screen.context.slotNextNumber[slot] = 1;
        screen.context.slotServiceId[slot] = 1 + (slot - 1) % 6;
    }
    screen.context.screenDateText = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
    qint64 totalBytes = 0;
    for (int i = 0; i < tickets && figures.note.isEmpty(); ++i) {
        const auto touch = SteadyClock::now();
        issue.IssueTicket(screen, 1 + i % 6);
        const auto given = SteadyClock::now();
        const auto out = lastByte(i);
        if (shell.messages > 0 || !out) {
            figures.note = QStringLiteral("ticket %1 did not come out").arg(i + 1);
            break;
        }
        figures.issue.push_back(millisSince(touch, given));
        figures.lastByte.push_back(millisSince(touch, *out));
        figures.render.push_back(system.escpos().lastTicketBytes() > 0
                                     ? system.escpos().lastRenderMs()
                                     : printer.paintMs);
        totalBytes += bytes(system);
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
                        [&](SystemTicketPrinter &) { return size; });
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
    return printTickets(
        "output escpos " + printer.tcpAddress().toUtf8(), tickets, cut,
        [](SystemTicketPrinter &system) { return system.escpos().lastTicketBytes(); });
}

double percentileOf(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return percentile(values, p);
}

int printersComparison(int tickets)
{
    const std::vector<PrintFigures> runs{printServiceRun(tickets), escposRun(tickets),
                                         printTickets(
                                             "output none", tickets,
                                             [](int) { return SteadyClock::now(); },
                                             [](SystemTicketPrinter &) { return 0; })};
    std::printf("%d tickets of the sample layout per run, SQLite server database\n", tickets);
    std::printf("%-38s%18s%18s%18s\n", "", "print service", "ESC/POS 576 dots", "no printing");
    const auto row = [&](const char *label, const char *unit, auto value) {
        std::printf("%-38s", label);
        for (const PrintFigures &run : runs)
            std::printf("%15.2f %-2s", value(run), unit);
        std::printf("\n");
    };
    row("touch -> last byte out: median", "ms",
        [](const PrintFigures &f) { return percentileOf(f.lastByte, 0.5); });
    row("touch -> last byte out: 99th pct", "ms",
        [](const PrintFigures &f) { return percentileOf(f.lastByte, 0.99); });
    row("touch -> screen given back: median", "ms",
        [](const PrintFigures &f) { return percentileOf(f.issue, 0.5); });
    row("touch -> screen given back: 99th pct", "ms",
        [](const PrintFigures &f) { return percentileOf(f.issue, 0.99); });
    row("render alone: median", "ms",
        [](const PrintFigures &f) { return percentileOf(f.render, 0.5); });
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

int fakePrinter(const QDir &folder)
{
    using State = test::FakeReceiptPrinter::State;
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot make the folder %s\n", qPrintable(folder.absolutePath()));
        return 1;
    }
    test::FakeReceiptPrinter printer;
    std::printf("output escpos %s\noutput escpos %s\n", qPrintable(printer.tcpAddress()),
                qPrintable(printer.serialDevice()));
    const std::map<QByteArray, State> states{
        {"ready", State::Ready},        {"near-end", State::PaperNearEnd},
        {"paper-out", State::PaperOut}, {"cover-open", State::CoverOpen},
        {"offline", State::Offline},    {"cutter-error", State::CutterError},
        {"silent", State::Silent},      {"flooding", State::Flooding},
    };
    qsizetype saved = 0;
    char line[256];
    for (;;) {
        const QList<QImage> tickets = printer.tickets();
        for (; saved < tickets.size(); ++saved) {
            const QString file = folder.filePath(QStringLiteral("ticket-%1.png").arg(saved + 1));
            if (tickets.at(saved).save(file))
                std::printf("%s\n", qPrintable(file));
            else
                std::fprintf(stderr, "ticket %lld not saved in %s\n", qlonglong(saved + 1),
                             qPrintable(file));
        }
        std::fflush(stdout);
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 100) <= 0)
            continue;
        if (!std::fgets(line, sizeof line, stdin) || QByteArray(line).trimmed() == "quit")
            return 0;
        const QByteArray command = QByteArray(line).trimmed();
        if (const auto it = states.find(command); it != states.end())
            printer.setState(it->second);
        else if (command == "reset-mid-ticket" || command == "no-reset")
            printer.setDropAfterBytes(command == "no-reset" ? 0 : 12000);
    }
}

const char kUsage[] =
    "usage: nx7bench [TICKETS] [--no-render] [--backend sqlite|postgresql|both] [--kiosks K] "
    "[--check]\n"
    "       nx7bench --printers [TICKETS]\n"
    "       nx7bench --fake-printer FOLDER\n"
    "Issues TICKETS tickets (3000) through the real ticket issue on temporary installations\n"
    "and times them; --printers prints the sample ticket through CUPS and in ESC/POS;\n"
    "--fake-printer runs the tests' fake ESC/POS printer.\n";

// Usage asked for: on standard output, success. A wrong command line: on standard error.
int usage(bool asked)
{
    std::fputs(kUsage, asked ? stdout : stderr);
    return asked ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("nx7.*.info=false"));
    const QStringList args = app.arguments().mid(1);
    if (args.contains(u"--help") || args.contains(u"-h"))
        return usage(true);

    if (args.value(0) == u"--kiosk-worker" && args.size() == 5) {
        // nx7bench --kiosk-worker SERVER FIRST_ID TICKETS RENDER, in the station folder
        const Timings timings = issueTickets(args.at(1), args.at(2).toInt(), kServicesPerKiosk,
                                             args.at(3).toInt(), args.at(4) == u"1");
        for (double ms : timings.millis)
            std::printf("%.4f\n", ms);
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("rss %ld\n", usage.ru_maxrss);
        return timings.failed ? 1 : 0;
    }
    if (args.value(0) == u"--counter-worker" && args.size() == 3)
        return runCounterStation(args.at(1), args.at(2));
    if (args.value(0) == u"--fake-printer" && args.size() == 2)
        return fakePrinter(QDir(args.at(1)));
    if (args.value(0) == u"--printers") {
        bool counted = false;
        const int count = args.value(1, QStringLiteral("500")).toInt(&counted);
        if (!counted || args.size() > 2)
            return usage(false);
        return printersComparison(std::max(1, count));
    }

    int tickets = 3000;
    int kiosks = 5;
    bool render = true;
    bool check = false;
    QStringList backends{QStringLiteral("sqlite"), QStringLiteral("postgresql")};
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--no-render")
            render = false;
        else if (arg == u"--check")
            check = true;
        else if (arg == u"--kiosks" && i + 1 < args.size())
            kiosks = std::clamp(args.at(++i).toInt(), 1, 5);
        else if (arg == u"--backend" && i + 1 < args.size()) {
            const QString chosen = args.at(++i);
            if (chosen != u"both")
                backends = QStringList{chosen};
        } else {
            bool counted = false;
            tickets = std::max(1, arg.toInt(&counted));
            if (!counted)
                return usage(false);
        }
    }

    std::vector<Backend> chosen;
    for (const QString &name : backends) {
        Backend backend{name, nullptr};
        if (name == u"postgresql") {
            backend.postgres = std::make_unique<test::PostgresServer>(true);
            if (!backend.postgres->ok()) {
                std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(backend.postgres->error()));
                return 1;
            }
        } else if (name != u"sqlite") {
            std::fprintf(stderr, "unknown backend %s (sqlite, postgresql or both)\n",
                         qPrintable(name));
            return 2;
        }
        chosen.push_back(std::move(backend));
    }

    std::vector<Figures> single;
    std::vector<Figures> load;
    for (Backend &backend : chosen) {
        single.push_back(singleKiosk(backend, tickets, render));
        load.push_back(loadRun(backend, kiosks, tickets, render, check));
    }

    std::printf("%d tickets per run, %s; load: %d kiosk processes and %d counter stations\n",
                tickets,
                render ? "rendered into an image at 8 dots/mm" : "print run painting nothing",
                kiosks, kiosks);
    std::printf("%-34s", "");
    for (const Backend &backend : chosen)
        std::printf("%16s", qPrintable(backend.name == u"sqlite" ? QStringLiteral("SQLite file")
                                                                 : QStringLiteral("PostgreSQL")));
    std::printf("\n");
    const auto line = [&](const char *label, const std::vector<Figures> &figures,
                          double Figures::*field, const char *unit) {
        std::printf("%-34s", label);
        for (const Figures &f : figures)
            std::printf("%13.2f %-2s", f.*field, unit);
        std::printf("\n");
    };
    line("one kiosk: median per ticket", single, &Figures::median, "ms");
    line("one kiosk: 99th percentile", single, &Figures::p99, "ms");
    line("one kiosk: throughput", single, &Figures::throughput, "/s");
    line("one kiosk: peak memory (RSS)", single, &Figures::peakMiB, "MB");
    line("load: median per ticket", load, &Figures::median, "ms");
    line("load: 99th percentile", load, &Figures::p99, "ms");
    line("load: throughput, all kiosks", load, &Figures::throughput, "/s");
    line("load: peak memory of a kiosk", load, &Figures::peakMiB, "MB");
    bool ok = true;
    for (size_t i = 0; i < chosen.size(); ++i) {
        for (const Figures *f : {&single[i], &load[i]}) {
            if (!f->note.isEmpty())
                std::printf("%s: %s\n", qPrintable(chosen[i].name), qPrintable(f->note));
            ok &= f->ok;
        }
    }
    return ok ? 0 : 1;
}
