// nx7fakeprinter FOLDER: the tests' ESC/POS receipt printer as a program, for trying the
// kiosk by hand without a printer. Prints its network address and its serial device,
// takes states on standard input (ready, near-end, paper-out, cover-open, offline,
// cutter-error, silent; quit) and saves every ticket it cuts as FOLDER/ticket-N.png.
#include "fakereceiptprinter.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <map>
#include <poll.h>
#include <string>
#include <unistd.h>

using nx7::test::FakeReceiptPrinter;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: nx7fakeprinter FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    FakeReceiptPrinter printer;
    if (!printer.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(printer.error()));
        return 1;
    }
    std::printf("output escpos %s\noutput escpos %s\n", qPrintable(printer.tcpAddress()),
                qPrintable(printer.serialDevice()));
    std::fflush(stdout);
    const std::map<std::string, FakeReceiptPrinter::State> states{
        {"ready", FakeReceiptPrinter::State::Ready},
        {"near-end", FakeReceiptPrinter::State::PaperNearEnd},
        {"paper-out", FakeReceiptPrinter::State::PaperOut},
        {"cover-open", FakeReceiptPrinter::State::CoverOpen},
        {"offline", FakeReceiptPrinter::State::Offline},
        {"cutter-error", FakeReceiptPrinter::State::CutterError},
        {"silent", FakeReceiptPrinter::State::Silent},
    };
    qsizetype saved = 0;
    std::string line;
    for (;;) {
        const QList<QImage> tickets = printer.tickets();
        for (; saved < tickets.size(); ++saved) {
            const QString file = folder.filePath(QStringLiteral("ticket-%1.png").arg(saved + 1));
            tickets.at(saved).save(file);
            std::printf("%s\n", qPrintable(file));
            std::fflush(stdout);
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0)
            return 0;
        line.append(buffer, size_t(n));
        for (size_t end; (end = line.find('\n')) != std::string::npos; line.erase(0, end + 1)) {
            const std::string command = line.substr(0, end);
            if (command == "quit")
                return 0;
            if (const auto it = states.find(command); it != states.end())
                printer.setState(it->second);
            else if (!command.empty())
                std::fprintf(stderr, "unknown state %s\n", command.c_str());
        }
    }
}
