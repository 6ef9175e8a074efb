// The tests' fake receipt printer for trying the kiosk by hand: it prints the "output escpos"
// lines that reach it, takes states on its standard input and saves each ticket it
// receives as a picture.
#include "benchkiosk.h"
#include "fakereceiptprinter.h"

#include <cstdio>
#include <map>
#include <poll.h>
#include <unistd.h>

namespace nx7::bench {

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

} // namespace nx7::bench
