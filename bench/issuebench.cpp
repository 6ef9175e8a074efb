// The ticket issue timed on temporary installations: one kiosk, then several kiosk
// processes at once with as many simulated counter stations, on each backend.
#include "benchkiosk.h"
#include "calllog.h"
#include "clock.h"
#include "counterstation.h"
#include "filenames.h"
#include "imageticketprinter.h"
#include "installation.h"
#include "sharednumbering.h"
#include "stationstate.h"
#include "stores.h"
#include "testshell.h"
#include "ticketfakes.h"
#include "ticketissue.h"
#include "ticketstore.h"
#include "waitestimator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sys/resource.h>

namespace nx7::bench {

namespace {

constexpr int kServicesPerKiosk = 4;

struct Timings
{
    std::vector<double> millis;
    bool failed = false;
};

// A morning of calls on every slot, a number every two minutes while people waited, so that
// each ticket's estimate weighs a full log.
std::shared_ptr<CallLog> morningOfCalls(const Clock &clock)
{
    auto log = std::make_shared<CallLog>();
    const QDateTime now = clock.now();
    for (int slot = 1; slot <= CallLog::kSlots; ++slot) {
        log->observe(slot, 1, now.addSecs(-4 * 3600));
        log->noteIssued(slot, 200, now.addSecs(-4 * 3600));
        for (int number = 2; number <= 120; ++number)
            log->observe(slot, number, now.addSecs(-4 * 3600 + number * 120));
    }
    return log;
}

// One kiosk issuing `tickets` tickets on services firstId.. firstId + services - 1, with the
// station folder as the current directory.
Timings issueTickets(const QString &server, int firstId, int services, int tickets, bool render,
                     bool estimate = true)
{
    StationState state;
    state.serverPath = server;
    state.waitMessageEnabled = true; // the wait itself costs nothing here
    test::TestShell shell;
    SystemClock clock;
    test::FakeWaiter waiter;
    test::ImageTicketPrinter imagePrinter(8.0); // 203 dpi, a thermal receipt printer
    NullPrinter nullPrinter;
    Printers &printers = render ? static_cast<Printers &>(imagePrinter) : nullPrinter;
    WaitEstimator estimator(morningOfCalls(clock), clock);
    TicketIssue issue(Stores(QDir::currentPath()), state, shell, clock, waiter, printers,
                      estimate ? &estimator : nullptr);
    BenchScreen screen(firstId, services);
    Timings result;
    result.millis.reserve(size_t(tickets));
    for (int i = 0; i < tickets && !shell.programEnded(); ++i) {
        QElapsedTimer one;
        one.start();
        issue.IssueTicket(screen, 1 + i % services);
        result.millis.push_back(double(one.nsecsElapsed()) / 1e6);
    }
    for (const auto &message : std::as_const(shell.messages))
        std::fprintf(stderr, "message: %s\n", qPrintable(message.text));
    result.failed =
        shell.programEnded() || !shell.messages.isEmpty() || int(result.millis.size()) < tickets;
    return result;
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

Status shareNumbering(const QString &server);

Figures singleKiosk(Backend &backend, int tickets, bool render, bool estimate, bool shared)
{
    Figures figures;
    QTemporaryDir root;
    const QString server = root.filePath(QStringLiteral("server"));
    const auto previous = enterNewStation(root, backend);
    if (!previous) {
        figures.note = previous.error().description;
        return figures;
    }
    if (Status on = shared ? shareNumbering(server) : Status(); !on) {
        figures.note = on.error().description;
        return figures;
    }
    QFile::copy(QStringLiteral(NX7_TICKET_LAYOUT), FileName::TicketLayout);
    QElapsedTimer total;
    total.start();
    Timings timings = issueTickets(server, 1, 6, tickets, render, estimate);
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    QDir::setCurrent(*previous);
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
    auto tickets = TicketStore::queuedTickets(*db);
    if (!tickets)
        return tickets.error().description;
    std::map<int, std::vector<int>> numbers;
    for (const TicketStore::QueuedTicket &ticket : std::as_const(*tickets))
        numbers[ticket.serviceId.toInt()].push_back(ticket.number);
    if (tickets->size() != kiosks * perKiosk)
        return QStringLiteral("%1 queue rows for %2 tickets")
            .arg(tickets->size())
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

Status shareNumbering(const QString &server)
{
    auto db = Stores(QDir::currentPath()).server(server);
    if (!db)
        return db.error();
    return SharedNumbering::setOn(*db, true);
}

// Shared: every kiosk issues on the same services, which the server numbers.
Figures loadRun(Backend &backend, int kiosks, int tickets, bool render, bool check, bool shared)
{
    Figures figures;
    QTemporaryDir root;
    const QString server = root.filePath(QStringLiteral("server"));
    if (Status made = makeServer(backend, server); !made) {
        figures.note = made.error().description;
        return figures;
    }
    if (Status on = shared ? shareNumbering(server) : Status(); !on) {
        figures.note = on.error().description;
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
                            QString::number(shared ? 1 : 1 + k * kServicesPerKiosk),
                            QString::number(perKiosk),
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

} // namespace

int kioskWorker(const QStringList &args)
{
    const Timings timings = issueTickets(args.at(0), args.at(1).toInt(), kServicesPerKiosk,
                                         args.at(2).toInt(), args.at(3) == u"1");
    for (double ms : timings.millis)
        std::printf("%.4f\n", ms);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("rss %ld\n", usage.ru_maxrss);
    return timings.failed ? 1 : 0;
}

int counterWorker(const QString &server, const QString &stopFile)
{
    int called = 0;
    int failures = 0;
    while (!QFile::exists(stopFile)) {
        auto db = Stores(QDir::currentPath()).server(server);
        const auto done = db ? test::callOldestTicket(*db) : Result<bool>(db.error());
        if (!done)
            ++failures;
        else if (*done)
            ++called;
        QThread::msleep(done && *done ? 2 : 10);
    }
    std::printf("called %d failures %d\n", called, failures);
    return 0;
}

int issueBench(const IssueOptions &options)
{
    std::vector<Backend> chosen;
    for (const QString &name : options.backends) {
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
    QStringList columns;
    for (Backend &backend : chosen) {
        for (const bool shared : options.shared ? std::vector{false, true} : std::vector{false}) {
            single.push_back(
                singleKiosk(backend, options.tickets, options.render, options.estimate, shared));
            load.push_back(loadRun(backend, options.kiosks, options.tickets, options.render,
                                   options.check, shared));
            columns << (shared                      ? QStringLiteral("PG shared")
                        : backend.name == u"sqlite" ? QStringLiteral("SQLite file")
                                                    : QStringLiteral("PostgreSQL"));
        }
    }

    std::printf("%d tickets per run, %s%s; load: %d kiosk processes and %d counter stations\n",
                options.tickets, options.estimate ? "wait estimated" : "no wait estimate",
                options.render ? ", rendered into an image at 8 dots/mm"
                               : ", print run painting nothing",
                options.kiosks, options.kiosks);
    std::printf("%-34s", "");
    for (const QString &column : std::as_const(columns))
        std::printf("%16s", qPrintable(column));
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
    for (size_t i = 0; i < size_t(columns.size()); ++i) {
        for (const Figures *f : {&single[i], &load[i]}) {
            if (!f->note.isEmpty())
                std::printf("%s: %s\n", qPrintable(columns.at(qsizetype(i))), qPrintable(f->note));
            ok &= f->ok;
        }
    }
    return ok ? 0 : 1;
}

} // namespace nx7::bench
