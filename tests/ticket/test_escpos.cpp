// Tickets printed on a receipt printer spoken to in ESC/POS (a fake one, on a loopback port
// and on a pseudo-terminal): what comes out, and what the printer's state stops.
#include "database.h"
#include "escposprinter.h"
#include "fakereceiptprinter.h"
#include "filenames.h"
#include "stationstate.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketfakes.h"
#include "ticketissue.h"
#include "ticketprinter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

using namespace nx7;
using namespace nx7::test;
using State = FakeReceiptPrinter::State;

namespace {

// A station whose Ticket.lbl is the shipped sample sent to `output`.
struct EscPosKiosk
{
    explicit EscPosKiosk(const QString &output) : issue(state, shell, clock, waiter, printer)
    {
        state.serverPath = installation.serverPath();
        QFile sample(QStringLiteral(NX7_TICKET_LAYOUT));
        sample.open(QIODevice::ReadOnly);
        QByteArray layout = sample.readAll();
        layout.replace("output default", "output escpos " + output.toUtf8());
        QFile file(FileName::TicketLayout);
        file.open(QIODevice::WriteOnly);
        file.write(layout);
        file.close();
        for (int slot = 1; slot <= kSlotCount; ++slot) {
            screen.context.slotNextNumber[slot] = 40 + slot;
            screen.context.slotServiceId[slot] = slot;
            screen.captions[size_t(slot)] = QStringLiteral("Servizio %1 ").arg(slot);
        }
        screen.context.screenDateText = QStringLiteral("08/12/2026");
    }

    int queueRows()
    {
        return int(Database::open(installation.serverDatabase())
                       ->select(QStringLiteral("SELECT * FROM Codafromtotem"))
                       ->size());
    }
    QVariant scalar(const QString &database, const QString &sql)
    {
        return Database::open(database)->select(sql)->first().first();
    }

    TempInstallation installation;
    StationState state;
    TestShell shell;
    TestClock clock;
    FakeWaiter waiter;
    SystemTicketPrinter printer;
    TicketIssue issue;
    FakeTicketScreen screen;
};

// The layout as the report engine paints it at `dots` across the page, each pixel darker
// than middle grey a dot: what the paper must show.
QImage expectedTicket(const ReportVariables &variables, int dots)
{
    auto layout = TicketLayout::load(FileName::TicketLayout);
    const double dotsPerMm = dots / layout->pageSize.width();
    QImage page(dots, int(std::lround(layout->pageSize.height() * dotsPerMm)),
                QImage::Format_Grayscale8);
    page.setDotsPerMeterX(int(std::lround(dotsPerMm * 1000)));
    page.setDotsPerMeterY(page.dotsPerMeterX());
    page.fill(Qt::white);
    QPainter painter(&page);
    renderTicket(painter, *layout, variables);
    painter.end();
    for (int y = 0; y < page.height(); ++y) {
        uchar *line = page.scanLine(y);
        for (int x = 0; x < page.width(); ++x)
            line[x] = line[x] < 128 ? 0 : 255;
    }
    return page;
}

int darkPixels(const QImage &image)
{
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    return dark;
}

} // namespace

class TestEscPos : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void printedTicketIsTheLayout_data();
    void printedTicketIsTheLayout();
    void printerThatCannotPrintChangesNothing_data();
    void printerThatCannotPrintChangesNothing();
    void paperNearEndPrintsAndIsReported();
    void paperEndAfterTheCutIsReportedWithTheTicket();
    void layoutOutputLine_data();
    void layoutOutputLine();
};

void TestEscPos::printedTicketIsTheLayout_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("dots");
    QTest::addColumn<QString>("cut");
    QTest::newRow("network, defaults") << false << QString() << 576 << "partial";
    QTest::newRow("serial, 180 dpi, full cut")
        << true << "dots=512 cut=full baud=115200" << 512 << "full";
    QTest::newRow("network, no cutter") << false << "cut=none" << 576 << "none";
}

void TestEscPos::printedTicketIsTheLayout()
{
    QFETCH(bool, serial);
    QFETCH(QString, options);
    QFETCH(int, dots);
    QFETCH(QString, cut);
    FakeReceiptPrinter fake;
    QVERIFY2(fake.ok(), qPrintable(fake.error()));
    EscPosKiosk kiosk((serial ? fake.serialDevice() : fake.tcpAddress()) + u' ' + options);
    QVERIFY(kiosk.installation.ok());

    // Two tickets, the printer restarted in between (its connection closed): the second
    // comes out on a new connection and does not carry the first.
    kiosk.issue.IssueTicket(kiosk.screen, 3);
    fake.dropConnections();
    kiosk.issue.IssueTicket(kiosk.screen, 12);
    QVERIFY(kiosk.screen.notices.isEmpty());
    QVERIFY(fake.waitForTickets(2, 5000));
    const QImage printed = fake.tickets().at(1);
    const QImage expected =
        expectedTicket(kiosk.issue.reportEngine().lastRunLabels().first(), dots);
    QCOMPARE(printed.size(), expected.size());
    QVERIFY(darkPixels(printed) > 2000); // the number, the name, the box: not a blank strip
    QCOMPARE(printed.convertToFormat(QImage::Format_Grayscale8), expected);
    QCOMPARE(fake.cuts(), (QStringList{cut, cut}));
    QCOMPARE(fake.unknownBytes(), 0);
    if (qEnvironmentVariableIsSet("NX7_SCREENS_DIR"))
        printed.save(
            qEnvironmentVariable("NX7_SCREENS_DIR") +
            QStringLiteral("/ticket-%1.png").arg(QTest::currentDataTag()).replace(u' ', u'-'));
}

void TestEscPos::printerThatCannotPrintChangesNothing_data()
{
    QTest::addColumn<QString>("target"); // "tcp", "serial", or the address itself
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("reason");
    QTest::newRow("paper end") << "tcp" << int(State::PaperOut) << "senza carta";
    QTest::newRow("cover open") << "serial" << int(State::CoverOpen) << "Sportello";
    QTest::newRow("off line") << "tcp" << int(State::Offline) << "in errore";
    QTest::newRow("cutter error") << "serial" << int(State::CutterError) << "in errore";
    QTest::newRow("silent") << "tcp" << int(State::Silent) << "non raggiungibile";
    QTest::newRow("silent serial") << "serial" << int(State::Silent) << "non raggiungibile";
    QTest::newRow("connection refused")
        << QStringLiteral("tcp://127.0.0.1:%1").arg(FakeReceiptPrinter::closedPort())
        << int(State::Ready) << "non raggiungibile";
    QTest::newRow("device missing") << "/dev/usb/lp9" << int(State::Ready) << "non raggiungibile";
}

void TestEscPos::printerThatCannotPrintChangesNothing()
{
    QFETCH(QString, target);
    QFETCH(int, state);
    QFETCH(QString, reason);
    FakeReceiptPrinter fake;
    QVERIFY2(fake.ok(), qPrintable(fake.error()));
    fake.setState(State(state));
    const QString address = target == u"tcp"      ? fake.tcpAddress()
                            : target == u"serial" ? fake.serialDevice()
                                                  : target;
    EscPosKiosk kiosk(address);
    const QVariant nextBefore = kiosk.scalar(kiosk.installation.localDatabase(),
                                             QStringLiteral("SELECT P4 FROM Numerazione"));
    const QVariant waitingBefore =
        kiosk.scalar(kiosk.installation.serverDatabase(),
                     QStringLiteral("SELECT Attesa FROM Servizi WHERE ID = 4"));

    LogCapture log;
    QElapsedTimer took;
    took.start();
    kiosk.issue.IssueTicket(kiosk.screen, 4);
    // The kiosk's only thread waits for the printer: a few hundred ms at most.
    QVERIFY2(took.elapsed() < 1500, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(kiosk.screen.notices, QStringList{TicketIssue::PrinterNotice});
    QCOMPARE(kiosk.screen.context.slotNextNumber[4], 44);
    QCOMPARE(kiosk.queueRows(), 0);
    QCOMPARE(kiosk.scalar(kiosk.installation.localDatabase(),
                          QStringLiteral("SELECT P4 FROM Numerazione")),
             nextBefore);
    QCOMPARE(kiosk.scalar(kiosk.installation.serverDatabase(),
                          QStringLiteral("SELECT Attesa FROM Servizi WHERE ID = 4")),
             waitingBefore);
    QVERIFY(fake.tickets().isEmpty());
    QVERIFY2(log.text().contains(QStringLiteral("ticket refused: slot 4, no number used (44 "
                                                "stays next)")),
             qPrintable(log.text()));
    QVERIFY2(log.text().contains(reason), qPrintable(log.text()));
    QCOMPARE(kiosk.issue.printerMonitor()->poll().text().contains(reason), true);

    // Back in service: the same touch gives number 44.
    if (target == u"tcp" || target == u"serial") {
        fake.setState(State::Ready);
        kiosk.issue.IssueTicket(kiosk.screen, 4);
        QCOMPARE(kiosk.screen.context.issuedNumber, 44);
        QVERIFY(fake.waitForTickets(1, 5000));
        QCOMPARE(kiosk.queueRows(), 1);
    }
}

void TestEscPos::paperNearEndPrintsAndIsReported()
{
    FakeReceiptPrinter fake;
    fake.setState(State::PaperNearEnd);
    EscPosKiosk kiosk(fake.tcpAddress());
    PrinterMonitor &monitor = *kiosk.issue.printerMonitor();
    QSignalSpy changes(&monitor, &PrinterMonitor::printerStateChanged);
    LogCapture log;
    monitor.poll();
    monitor.poll(); // one change, told and logged once
    kiosk.issue.IssueTicket(kiosk.screen, 2);
    QVERIFY(kiosk.screen.notices.isEmpty());
    QVERIFY(fake.waitForTickets(1, 5000));
    QCOMPARE(kiosk.queueRows(), 1);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).value<PrinterState>().text(),
             QStringLiteral("Carta in esaurimento"));
    QCOMPARE(log.text().count(QStringLiteral("printer state:")), 1);
}

void TestEscPos::paperEndAfterTheCutIsReportedWithTheTicket()
{
    FakeReceiptPrinter fake;
    EscPosKiosk kiosk(fake.tcpAddress());
    fake.setStateAfterNextCut(State::PaperOut);
    LogCapture log;
    kiosk.issue.IssueTicket(kiosk.screen, 5);
    // The ticket is in the queue (the counter can call it), and the customer is sent to
    // the counter, since the roll ran out while it was printed.
    QCOMPARE(kiosk.queueRows(), 1);
    QCOMPARE(kiosk.screen.notices, QStringList{TicketIssue::NotPrintedNotice});
    QVERIFY2(log.text().contains(QStringLiteral("ticket 45 of slot 5 recorded but not printed: "
                                                "dopo il taglio la stampante riferisce: "
                                                "Stampante senza carta")),
             qPrintable(log.text()));
    QCOMPARE(kiosk.printer.escpos().stateAfterLastTicket().condition,
             PrinterState::Condition::PaperOut);
}

void TestEscPos::layoutOutputLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("network") << "tcp://10.1.2.3:9100" << true;
    QTest::newRow("usb, options") << "/dev/usb/lp0 dots=512 cut=full" << true;
    QTest::newRow("serial") << "/dev/ttyUSB0 baud=19200 cut=none" << true;
    QTest::newRow("no port") << "tcp://10.1.2.3" << false;
    QTest::newRow("relative device") << "usb/lp0" << false;
    QTest::newRow("width not in bytes") << "/dev/usb/lp0 dots=570" << false;
    QTest::newRow("unknown cut") << "/dev/usb/lp0 cut=half" << false;
    QTest::newRow("nothing") << "" << false;
}

void TestEscPos::layoutOutputLine()
{
    QFETCH(QString, line);
    QFETCH(bool, accepted);
    QStringList warnings;
    const TicketLayout layout =
        TicketLayout::parse(QStringLiteral("output escpos ") + line + u'\n', &warnings);
    QCOMPARE(layout.outputKind == PrintTarget::Kind::EscPos, accepted);
    QCOMPARE(warnings.isEmpty(), accepted);
}

QTEST_MAIN(TestEscPos)
#include "test_escpos.moc"
