// Issues tickets through the real ticket issue on temporary installations and reports the
// time per ticket, the throughput of several kiosks at once and the peak memory, for the
// server database as a SQLite file and on PostgreSQL (a private server over loopback), side
// by side. The print run renders each ticket into an image in memory (or, with --no-render,
// paints nothing) instead of a printer.
//
//   nx7bench [TICKETS] [--no-render] [--no-estimate] [--backend sqlite|postgresql|both]
//            [--kiosks K] [--check] [--shared]
//   nx7bench --printers [TICKETS]
//   nx7bench --fake-printer FOLDER
//   nx7bench --attesa [DAYS]
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

#include "benchkiosk.h"

#include <QGuiApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>

using namespace nx7::bench;

namespace {

const char kUsage[] =
    "usage: nx7bench [TICKETS] [--no-render] [--no-estimate] [--backend sqlite|postgresql|both]\n"
    "                [--kiosks K] [--check]\n"
    "       nx7bench --printers [TICKETS]\n"
    "       nx7bench --attesa [DAYS]\n"
    "       nx7bench --fake-printer FOLDER\n"
    "Issues TICKETS tickets (3000) through the real ticket issue on temporary installations\n"
    "and times them; --printers prints the sample ticket through CUPS and in ESC/POS;\n"
    "--fake-printer runs the tests' fake ESC/POS printer; --attesa simulates DAYS office\n"
    "days (5) per scenario and compares the printed wait estimates with the real waits.\n";

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

    if (args.value(0) == u"--kiosk-worker" && args.size() == 5)
        return kioskWorker(args.mid(1)); // in the station folder
    if (args.value(0) == u"--counter-worker" && args.size() == 3)
        return counterWorker(args.at(1), args.at(2));
    if (args.value(0) == u"--fake-printer" && args.size() == 2)
        return fakePrinter(QDir(args.at(1)));
    if (args.value(0) == u"--attesa") {
        bool counted = false;
        const int days = args.value(1, QStringLiteral("5")).toInt(&counted);
        if (!counted || args.size() > 2)
            return usage(false);
        return waitBench(std::clamp(days, 1, 100));
    }
    if (args.value(0) == u"--printers") {
        bool counted = false;
        const int count = args.value(1, QStringLiteral("500")).toInt(&counted);
        if (!counted || args.size() > 2)
            return usage(false);
        return printersComparison(std::max(1, count));
    }

    IssueOptions options;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--no-render")
            options.render = false;
        else if (arg == u"--no-estimate")
            options.estimate = false;
        else if (arg == u"--check")
            options.check = true;
        else if (arg == u"--shared") {
            options.shared = true;
            options.backends = {QStringLiteral("postgresql")};
        } else if (arg == u"--kiosks" && i + 1 < args.size())
            options.kiosks = std::clamp(args.at(++i).toInt(), 1, 5);
        else if (arg == u"--backend" && i + 1 < args.size()) {
            const QString chosen = args.at(++i);
            if (chosen != u"both")
                options.backends = QStringList{chosen};
        } else {
            bool counted = false;
            options.tickets = std::max(1, arg.toInt(&counted));
            if (!counted)
                return usage(false);
        }
    }
    return issueBench(options);
}
