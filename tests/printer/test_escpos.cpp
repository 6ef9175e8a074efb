// Tickets printed on a receipt printer spoken to in ESC/POS (a fake one, on a loopback port
// and on a pseudo-terminal): what comes out, and what the printer's state stops.
#include "escpos.h"
#include "escposprinter.h"
#include "fakereceiptprinter.h"
#include "filenames.h"
#include "imageticketprinter.h"
#include "stationdata.h"
#include "stationfixture.h"
#include "systemprinters.h"
#include "ticketfakes.h"
#include "ticketissue.h"
#include "ticketpreview.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <functional>

using namespace nx7;
using namespace nx7::test;
using State = FakeReceiptPrinter::State;

namespace {

// A station whose Ticket.lbl is the shipped sample sent to `output`; slot n issues 40 + n.
struct EscPosKiosk : StationFixture
{
    explicit EscPosKiosk(const QString &output)
        : issue(installation.stores(), state, shell, clock, waiter, printers)
    {
        QFile sample(QStringLiteral(NX7_TICKET_LAYOUT));
        QFile layout(FileName::TicketLayout);
        if (sample.open(QIODevice::ReadOnly) && layout.open(QIODevice::WriteOnly))
            layout.write(
                sample.readAll().replace("output default", "output escpos " + output.toUtf8()));
        for (int slot = 1; slot <= kSlotCount; ++slot) {
            screen.context.slotNextNumber[slot] = 40 + slot;
            screen.context.slotServiceId[slot] = slot;
            screen.captions[size_t(slot)] = QStringLiteral("Servizio %1 ").arg(slot);
        }
    }
    // What the station and the server hold for slot 4: "P4", "Attesa", the queue length.
    QVariantList records()
    {
        return {scalar(installation.localDatabase(), QStringLiteral("SELECT P4 FROM Numerazione")),
                waitingCounts(installation).value(3), queueLength(installation)};
    }

    FakeWaiter waiter;
    SystemPrinters printers;
    TicketIssue issue;
    FakeTicketScreen screen;
};

// The layout painted by the report engine at `dots` across the page, each pixel darker
// than middle grey a dot: what the paper must show.
QImage expectedTicket(const ReportVariables &variables, int dots)
{
    auto layout = TicketLayout::load(FileName::TicketLayout);
    ImageTicketPrinter paper(dots / layout->pageSize.width());
    if (!paper.print(layout->pageSize, 1, {},
                     [&](QPainter &painter, int) { renderTicket(painter, *layout, variables); }))
        return {};
    return paper.lastPages.first()
        .convertToFormat(QImage::Format_Mono, Qt::ThresholdDither)
        .convertToFormat(QImage::Format_Grayscale8);
}

// Rewrites the station's Ticket.lbl: `edit` is given its text and returns the new one.
void editLayout(const std::function<QByteArray(const QByteArray &)> &edit)
{
    QFile file(FileName::TicketLayout);
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(edit(text));
}

// The share of an area of a printed ticket that is dots, in per cent.
double darkness(const QImage &ticket, const QRect &area)
{
    const QImage part = ticket.copy(area).convertToFormat(QImage::Format_Grayscale8);
    qsizetype dots = 0;
    for (int y = 0; y < part.height(); ++y)
        dots += std::count(part.constScanLine(y), part.constScanLine(y) + part.width(), 0);
    return 100.0 * double(dots) / (area.width() * area.height());
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
    void paperStateAroundATicket();
    void endlessDeviceCountsNoTicket();
    void connectionLostInMidTicketIsNotPrinted();
    void pictureCarriesNoRealTimeCommand();
    void picturesKeepTheirGreysAndTheTextItsDots();
};

void TestEscPos::printedTicketIsTheLayout_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("dots");
    QTest::addColumn<QString>("cut");
    QTest::newRow("network") << false << QString() << 576 << "partial";
    QTest::newRow("serial-512-full") << true << "dots=512 cut=full baud=115200" << 512 << "full";
    QTest::newRow("network-no-cutter") << false << "cut=none" << 576 << "none";
}

void TestEscPos::printedTicketIsTheLayout()
{
    QFETCH(bool, serial);
    QFETCH(QString, options);
    QFETCH(int, dots);
    QFETCH(QString, cut);
    FakeReceiptPrinter fake;
    QVERIFY(fake.ok());
    if (serial && fake.serialDevice().isEmpty())
        QSKIP("no pseudo-terminal on this system");
    EscPosKiosk kiosk((serial ? fake.serialDevice() : fake.tcpAddress()) + u' ' + options);

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
    // Not two blank strips: the number, the name and the box are there.
    QVERIFY(std::count(expected.constBits(), expected.constBits() + expected.sizeInBytes(), 0) >
            2000);
    QCOMPARE(printed, expected);
    // The preview of the same ticket is what the printer received, dot for dot.
    const auto preview = TicketPreview::render(FileName::TicketLayout,
                                               kiosk.issue.reportEngine().lastRunLabels().first());
    QVERIFY(preview);
    QCOMPARE(preview->image.convertToFormat(QImage::Format_Grayscale8), printed);
    QVERIFY(preview->output.contains(QStringLiteral("%1 punti").arg(dots)));
    QCOMPARE(fake.cuts(), (QStringList{cut, cut}));
    QCOMPARE(fake.unknownBytes(), 0);
}

void TestEscPos::printerThatCannotPrintChangesNothing_data()
{
    QTest::addColumn<QString>("target"); // "tcp", "serial", or the address itself
    QTest::addColumn<State>("state");
    QTest::addColumn<QString>("reason");
    QTest::newRow("paper end") << "tcp" << State::PaperOut << "senza carta";
    QTest::newRow("cover open") << "serial" << State::CoverOpen << "Sportello";
    QTest::newRow("off line") << "tcp" << State::Offline << "in errore";
    QTest::newRow("cutter error") << "serial" << State::CutterError << "in errore";
    QTest::newRow("silent") << "tcp" << State::Silent << "non raggiungibile";
    QTest::newRow("silent serial") << "serial" << State::Silent << "non raggiungibile";
    QTest::newRow("refused") << "tcp://127.0.0.1:1" << State::Ready << "non raggiungibile";
    QTest::newRow("no device") << "/dev/usb/lp9" << State::Ready << "non raggiungibile";
    // Never looked up: a name server that does not answer would hold the screen.
    QTest::newRow("host name") << "tcp://stampante.invalid:9100" << State::Ready
                               << "non raggiungibile";
    // A line that never falls quiet: the question is given up within its bound.
    QTest::newRow("flooding") << "tcp" << State::Flooding << "in errore";
    QTest::newRow("endless device") << "/dev/zero" << State::Ready << "in errore";
}

void TestEscPos::printerThatCannotPrintChangesNothing()
{
    QFETCH(QString, target);
    QFETCH(State, state);
    QFETCH(QString, reason);
    FakeReceiptPrinter fake;
    if (target == u"serial" && fake.serialDevice().isEmpty())
        QSKIP("no pseudo-terminal on this system");
    fake.setState(state);
    EscPosKiosk kiosk(target == u"tcp"      ? fake.tcpAddress()
                      : target == u"serial" ? fake.serialDevice()
                                            : target);
    const QVariantList before = kiosk.records();
    QElapsedTimer took;
    took.start();
    kiosk.issue.IssueTicket(kiosk.screen, 4);
    // The kiosk's only thread waits for the printer: a few hundred ms at most.
    QVERIFY2(took.elapsed() < 1500, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(kiosk.screen.notices, QStringList{TicketIssue::PrinterNotice});
    QCOMPARE(kiosk.screen.context.slotNextNumber[4], 44);
    QCOMPARE(kiosk.records(), before);
    QVERIFY(fake.tickets().isEmpty());
    QVERIFY(kiosk.issue.printerMonitor()->poll().text().contains(reason));
}

void TestEscPos::paperStateAroundATicket()
{
    FakeReceiptPrinter fake;
    fake.setState(State::PaperNearEnd);
    EscPosKiosk kiosk(fake.tcpAddress());
    PrinterMonitor &monitor = *kiosk.issue.printerMonitor();
    QSignalSpy changes(&monitor, &PrinterMonitor::printerStateChanged);
    LogCapture log({"nx7.ticket", "nx7.printer"});
    monitor.poll();
    monitor.poll(); // one change: told and logged once
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).value<PrinterState>().text(), u"Carta in esaurimento");

    // Paper near its end prints; the roll running out during the ticket is reported with
    // the ticket, which is in the queue for the counter to call.
    fake.setStateAfterNextCut(State::PaperOut);
    kiosk.issue.IssueTicket(kiosk.screen, 5);
    QVERIFY(fake.waitForTickets(1, 5000));
    QCOMPARE(kiosk.records().at(2).toInt(), 1);
    QCOMPARE(kiosk.screen.notices, QStringList{TicketIssue::NotPrintedNotice});
    QVERIFY2(log.text().contains(u"ticket 45 of slot 5 recorded but not printed: dopo il taglio "
                                 u"la stampante riferisce: Stampante senza carta"),
             qPrintable(log.text()));
    monitor.poll();
    QCOMPARE(changes.size(), 2);
    QCOMPARE(log.text().count(u"printer state:"), 2);
}

// On the link itself: every read is bounded, even on a device that never stops sending (a
// flooding printer and one reset in mid-ticket are the session's own cases, over a scripted
// link).
void TestEscPos::endlessDeviceCountsNoTicket()
{
    EscPosPrinter printer(*EscPos::parseSettings(QStringLiteral("/dev/zero")));
    QElapsedTimer took;
    took.start();
    const Status printed = printer.print(QSizeF(80, 100), 1, {}, [](QPainter &p, int) {
        p.fillRect(QRect(0, 0, 576, 400), Qt::black); // as many bytes as the sample ticket
    });
    QVERIFY2(!printed && printed.error().description.contains(u"senza sosta"),
             qPrintable(printed ? QString() : printed.error().description));
    QVERIFY(took.elapsed() < 4000);
    QVERIFY(!printer.state().canPrint());
}

void TestEscPos::connectionLostInMidTicketIsNotPrinted()
{
    FakeReceiptPrinter fake;
    fake.setDropAfterBytes(12000);
    EscPosKiosk kiosk(fake.tcpAddress());
    LogCapture log;
    kiosk.issue.IssueTicket(kiosk.screen, 5);
    QCOMPARE(kiosk.screen.notices, QStringList{TicketIssue::NotPrintedNotice});
    QCOMPARE(kiosk.records().at(2).toInt(), 1); // in the queue, for the counter to call
    QVERIFY2(log.text().contains(u"ticket 45 of slot 5 recorded but not printed: connessione "
                                 u"persa"),
             qPrintable(log.text()));
    QVERIFY(fake.tickets().isEmpty());
}

// Dots that spell DLE EOT 1 and, across two rows, DLE DC4: a printer would answer the first
// in the middle of the ticket and could empty its buffer on the second.
void TestEscPos::pictureCarriesNoRealTimeCommand()
{
    QImage picture(24, 2, QImage::Format_Grayscale8);
    picture.fill(Qt::white);
    for (const QPoint dot :
         {QPoint(3, 0), QPoint(13, 0), QPoint(23, 0), QPoint(19, 0), QPoint(3, 1), QPoint(5, 1)})
        picture.setPixelColor(dot, Qt::black); // rows 10 04 11 and 14 00 00
    const QByteArray header("\x1d\x76\x30\x00\x03\x00\x02\x00", 8);
    QCOMPARE(EscPos::raster(picture), header + QByteArray("\x00\x04\x11\x14\x00\x00", 6));
    picture.setPixelColor(QPoint(23, 0), Qt::white); // 10 04 10 | 14: both lone dots go
    QCOMPARE(EscPos::raster(picture), header + QByteArray("\x00\x04\x00\x14\x00\x00", 6));
}

// Pictures under the sample ticket's text on a printer that prints black or nothing: flat
// greys keep their darkness as a share of dots, and the text and rules come out dot for dot
// as without them.
void TestEscPos::picturesKeepTheirGreysAndTheTextItsDots()
{
    FakeReceiptPrinter fake;
    EscPosKiosk kiosk(fake.tcpAddress());
    // Greys of 0 to 100 % black, and a 60 % grey half transparent: 30 % on white paper.
    const QList<int> percents{0, 25, 50, 70, 100, 30};
    QByteArray pictures;
    for (int i = 0; i < percents.size(); ++i) {
        QImage grey(120, 120, QImage::Format_ARGB32); // scaled down to 79 dots
        grey.fill(i == 5 ? QColor(102, 102, 102, 128)
                         : QColor::fromHsvF(0, 0, 1 - percents[i] / 100.0));
        QVERIFY(grey.save(QStringLiteral("grey%1.png").arg(i)));
        pictures += QStringLiteral("picture x=%1 y=104 w=11 h=11 | grey%2.png\n")
                        .arg(4 + 12 * i)
                        .arg(i)
                        .toUtf8();
    }
    editLayout([&](const QByteArray &sample) {
        return QByteArray(sample).replace("page 80 105", "page 80 116") + pictures;
    });
    kiosk.issue.IssueTicket(kiosk.screen, 3);
    QVERIFY(fake.waitForTickets(1, 5000));
    QImage printed = fake.tickets().first();
    // 7.2 dots a millimetre; a few dots in from each picture's edges.
    for (int i = 0; i < percents.size(); ++i) {
        const double dots = darkness(printed, QRect(int((4 + 12 * i) * 7.2) + 4, 753, 70, 70));
        QVERIFY2(qAbs(dots - percents[i]) < (percents[i] % 100 == 0 ? 0.01 : 2),
                 qPrintable(QStringLiteral("%1 %: %2").arg(percents[i]).arg(dots)));
    }

    editLayout([](const QByteArray &layout) { return layout.left(layout.indexOf("picture x=")); });
    QPainter(&printed).fillRect(QRect(0, 749, 576, 100), Qt::white);
    QCOMPARE(printed, expectedTicket(kiosk.issue.reportEngine().lastRunLabels().first(), 576));
}

QTEST_MAIN(TestEscPos)
#include "test_escpos.moc"
