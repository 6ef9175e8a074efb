// Issues a few thousand tickets through the real ticket issue on a temporary installation
// and reports the time per ticket and the peak memory. The print run renders each ticket
// into an image in memory (or, with --no-render, paints nothing) instead of a printer.

#include "clock.h"
#include "filenames.h"
#include "installation.h"
#include "shell.h"
#include "stationstate.h"
#include "ticketissue.h"
#include "ticketprinter.h"
#include "timedwait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
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
        return QStringLiteral("Servizio %1 ").arg(slot);
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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("nx7.*.info=false"));

    int tickets = 3000;
    bool render = true;
    for (const QString &arg : app.arguments().mid(1)) {
        if (arg == u"--no-render")
            render = false;
        else
            tickets = std::max(1, arg.toInt());
    }

    QTemporaryDir root;
    const QString server = root.filePath(QStringLiteral("server"));
    const QString station = root.filePath(QStringLiteral("station"));
    Installation::ServerOptions options;
    options.activeServices = 6;
    if (Status s = Installation::createServer(server, options); !s) {
        std::fprintf(stderr, "server: %s\n", qPrintable(s.error().description));
        return 1;
    }
    if (Status s = Installation::createStation(station, server); !s) {
        std::fprintf(stderr, "station: %s\n", qPrintable(s.error().description));
        return 1;
    }
    QDir::setCurrent(station);
    QFile::copy(QStringLiteral(NX7_TICKET_LAYOUT), FileName::TicketLayout);

    StationState state;
    state.serverPath = server;
    state.waitMessageEnabled = true; // the wait itself costs nothing here
    BenchShell shell;
    SystemClock clock;
    NoWait waiter;
    ImageTicketPrinter imagePrinter(8.0); // 203 dpi, a thermal receipt printer
    NullPrinter nullPrinter;
    TicketPrinter &printer = render ? static_cast<TicketPrinter &>(imagePrinter) : nullPrinter;
    TicketIssue issue(state, shell, clock, waiter, printer);
    BenchScreen screen;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        screen.context.slotNextNumber[slot] = 1;
        screen.context.slotServiceId[slot] = slot;
    }
    screen.context.screenDateText = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));

    std::vector<double> millis;
    millis.reserve(size_t(tickets));
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < tickets && !shell.programEnded(); ++i) {
        QElapsedTimer one;
        one.start();
        issue.IssueTicket(screen, 1 + i % options.activeServices);
        millis.push_back(double(one.nsecsElapsed()) / 1e6);
    }
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    if (shell.programEnded() || shell.messages > 0) {
        std::fprintf(stderr, "the issue failed after %zu tickets\n", millis.size());
        return 1;
    }

    std::sort(millis.begin(), millis.end());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("tickets issued:      %zu (%s)\n", millis.size(),
                render ? "rendered into an image at 8 dots/mm" : "print run painting nothing");
    std::printf("total time:          %.2f s (%.0f tickets/s)\n", seconds,
                double(millis.size()) / seconds);
    std::printf("median per ticket:   %.3f ms\n", percentile(millis, 0.50));
    std::printf("99th percentile:     %.3f ms\n", percentile(millis, 0.99));
    std::printf("slowest:             %.3f ms\n", millis.back());
    std::printf("peak memory (RSS):   %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
