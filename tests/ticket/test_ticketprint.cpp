#include "database.h"
#include "filenames.h"
#include "filesizelimit.h"
#include "imageticketprinter.h"
#include "reportengine.h"
#include "systemprinters.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketfakes.h"
#include "ticketlayout.h"
#include "ticketprintjob.h"

#include <QFile>
#include <QPainter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace nx7;
using namespace nx7::test;

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

QString pdfText(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!process.waitForFinished(10000))
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

const ReportVariables kTicket{
    {"ID", "1", VariableType::Numeric},
    {"QualeUtente", "Anagrafe ", VariableType::Text},
    {"QualeData", "08/12/2026", VariableType::Text},
    {"NumeroArrivati", "5", VariableType::Numeric},
    {"QualeOra", "10.15", VariableType::Text},
    {"NumeroDaStampare", "42", VariableType::Numeric},
    {"AttesaStimata", "Attesa stimata: 10–15 minuti", VariableType::Text},
};

// Gives `labels` in turn to the engine, as the print job does with its rows.
struct LabelFeeder
{
    LabelFeeder(ReportEngine &e, QList<ReportVariables> l) : engine(e), labels(std::move(l)) {}
    ReportEngine &engine;
    QList<ReportVariables> labels;
    int given = 0;
    QList<Qt::HANDLE> threads;

    void operator()(qint32, qint32, qint32 &, qint32 &last)
    {
        threads.append(QThread::currentThreadId());
        for (const ReportVariable &v : labels.at(given)) {
            qint32 code = v.typeCode;
            engine.defineVariable(v.name, v.contents, code);
        }
        if (++given == labels.size())
            last = 1;
    }
};

} // namespace

class TestTicketPrint : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void columnsBecomeTypedVariables_data();
    void columnsBecomeTypedVariables();
    void printRowFeedsTheEngine();
    void fieldFormats_data();
    void fieldFormats();
    void layoutLinesAndOutput();
    void layoutValuesOutOfBounds_data();
    void layoutValuesOutOfBounds();
    void shippedLayoutIsCleanAndPrintsToTheDefaultPrinter();
    void shippedLayoutKeepsLongNamesAndCountsOnThePaper();
    void engineGathersEveryLabelBeforePrinting();
    void pdfTicketCarriesTheValues();
    void unknownPrinterIsNeverReplacedByAnother();
    void fullDiskLeavesNoHalfPdf();
    void defineVariablesFlagContract();
};

void TestTicketPrint::columnsBecomeTypedVariables_data()
{
    QTest::addColumn<QString>("declared");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("contents");
    QTest::newRow("yes/no true as -1") << "BOOLEAN" << QVariant(-1) << 33554432 << "True";
    QTest::newRow("yes/no false") << "BOOLEAN" << QVariant(0) << 33554432 << "False";
    QTest::newRow("long") << "INTEGER" << QVariant(-17) << 134217728 << "-17";
    QTest::newRow("16-bit") << "SMALLINT" << QVariant(5) << 134217728 << "5";
    QTest::newRow("double") << "DOUBLE" << QVariant(2.5) << 134217728 << "2.5";
    QTest::newRow("single as REAL") << "REAL" << QVariant(36.0) << 134217728 << "36";
    QTest::newRow("date 1 Jan 1900") << "DATE" << QVariant(QDate(1900, 1, 1)) << 67108866 << "2";
    QTest::newRow("datetime noon 2000 as text")
        << "DATETIME" << QVariant(QStringLiteral("2000-01-01 12:00:00")) << 67108866 << "36526.5";
    QTest::newRow("timestamp, single precision")
        << "TIMESTAMP" << QVariant(QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30))) << 67108866
        << "46364.43";
    QTest::newRow("before 1899-12-30")
        << "DATETIME" << QVariant(QDateTime(QDate(1899, 12, 29), QTime(6, 0))) << 67108866
        << "-1.25";
    QTest::newRow("null date") << "DATETIME" << QVariant() << 67108866 << "";
    QTest::newRow("text") << "TEXT" << QVariant(QStringLiteral("Anagrafe ")) << 268435456
                          << "Anagrafe ";
    QTest::newRow("null text") << "TEXT" << QVariant() << 268435456 << "";
    QTest::newRow("byte is text") << "TINYINT" << QVariant(7) << 268435456 << "7";
    QTest::newRow("currency is text") << "CURRENCY" << QVariant(3) << 268435456 << "3";
    QTest::newRow("sized text") << "VARCHAR(50)" << QVariant(QStringLiteral("x")) << 268435456
                                << "x";
}

void TestTicketPrint::columnsBecomeTypedVariables()
{
    QFETCH(QString, declared);
    QFETCH(QVariant, value);
    QFETCH(int, code);
    QFETCH(QString, contents);
    const ReportVariable variable =
        TicketPrintJob::reportVariable(QStringLiteral("C"), declared, value);
    QCOMPARE(variable.typeCode, code);
    QCOMPARE(variable.contents, contents);
    // Date contents read back as nearly the same moment: seven significant digits of a
    // single keep a hundredth of a day in this century.
    if (code == VariableType::Date && value.metaType().id() == QMetaType::QDateTime) {
        const QDateTime back = dateTimeFromDayCount(contents.toDouble());
        QVERIFY(qAbs(back.secsTo(value.toDateTime())) <= 864 / 2);
    }
}

void TestTicketPrint::printRowFeedsTheEngine()
{
    TempInstallation installation;
    QVERIFY(installation.ok());
    {
        auto db = Database::open(installation.localDatabase());
        QVERIFY(db);
        // A column added to the print row becomes one more variable; a second row placed
        // before the row with ID 1 must never be the one that is written.
        QVERIFY(db->addColumn(QStringLiteral("DatiDaStampare"), QStringLiteral("Emesso"),
                              QStringLiteral("DATETIME")));
        QVERIFY(db->exec(QStringLiteral("UPDATE DatiDaStampare SET ID = 2")));
        QVERIFY(db->exec(
            QStringLiteral("INSERT INTO DatiDaStampare (ID, QualeUtente) VALUES (1, 'old')")));
    }
    writeFile(FileName::TicketLayout, "page 80 50\ntext | {NumeroDaStampare}\n");
    TestShell shell;
    ImageTicketPrinter printer;
    ReportEngine engine(printer);
    TicketPrintJob job(installation.stores(), shell, engine);
    TicketContext ticket;
    ticket.issuedServiceName = QStringLiteral("Servizio 1 ");
    ticket.screenDateText = QStringLiteral("08/12/2026");
    ticket.peopleAhead = 3;
    ticket.issuedTime = QStringLiteral("09.05");
    ticket.issuedNumber = 12;

    QVERIFY(job.WritePrintRow(ticket));
    QVERIFY(job.PrintTicket(nullptr));
    QCOMPARE(engine.lastRunLabels().size(), 1);
    const ReportVariables expected{
        {"ID", "1", VariableType::Numeric},
        {"QualeUtente", "Servizio 1 ", VariableType::Text},
        {"QualeData", "08/12/2026", VariableType::Text},
        {"NumeroArrivati", "3", VariableType::Numeric},
        {"QualeOra", "09.05", VariableType::Text},
        {"NumeroDaStampare", "12", VariableType::Numeric},
        {"Emesso", "", VariableType::Date},
        {"AttesaStimata", "", VariableType::Text},
    };
    QCOMPARE(engine.lastRunLabels().first(), expected);
    QCOMPARE(printer.lastPages.size(), 1);

    // Every run reads the row afresh.
    ticket.issuedNumber = 13;
    QVERIFY(job.WritePrintRow(ticket));
    QVERIFY(job.PrintTicket(nullptr));
    QCOMPARE(engine.lastRunLabels().first().at(5).contents, QStringLiteral("13"));
    // The estimate goes beside the row, never into it.
    job.setEstimatedWait(QStringLiteral("Attesa stimata: 4–7 minuti"));
    QVERIFY(job.PrintTicket(nullptr));
    QCOMPARE(engine.lastRunLabels().first().constLast().contents,
             QStringLiteral("Attesa stimata: 4–7 minuti"));
    QCOMPARE(engine.lastRunLabels().first().size(), expected.size());
    QVERIFY(shell.messages.isEmpty());
}

void TestTicketPrint::fieldFormats_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("plain") << "N. {NumeroDaStampare}"
                           << "N. 42";
    QTest::newRow("case of the name") << "{numerodastampare}"
                                      << "42";
    QTest::newRow("width") << "[{NumeroDaStampare:4}]"
                           << "[  42]";
    QTest::newRow("zero padded") << "{NumeroDaStampare:04}"
                                 << "0042";
    QTest::newRow("zero padded negative") << "{Neg:04}"
                                          << "-007";
    QTest::newRow("left aligned") << "[{NumeroDaStampare:-4}]"
                                  << "[42  ]";
    QTest::newRow("wider value kept whole") << "{NumeroDaStampare:1}"
                                            << "42";
    QTest::newRow("trailing blank kept") << "[{QualeUtente}]"
                                         << "[Anagrafe ]";
    QTest::newRow("date") << "{Giorno:date} {Giorno:time}"
                          << "08/12/2026 12.00";
    QTest::newRow("negative count at the floor") << "{Neg:min0}"
                                                 << "0";
    QTest::newRow("count above the floor kept") << "{NumeroArrivati:min0}"
                                                << "5";
    QTest::newRow("braces") << "{{x}} {NumeroArrivati}"
                            << "{x} 5";
    QTest::newRow("unknown prints nothing") << "a{Nope}b"
                                            << "ab";
    QTest::newRow("unclosed brace is text") << "a{b"
                                            << "a{b";
    // Out of bounds: the value as it is, never gigabytes of blanks nor a negated INT_MIN.
    QTest::newRow("absurd width") << "{NumeroDaStampare:2000000000}"
                                  << "42";
    QTest::newRow("lowest int width") << "{NumeroDaStampare:-2147483648}"
                                      << "42";
}

void TestTicketPrint::fieldFormats()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    ReportVariables variables = kTicket;
    variables.append({"Neg", "-7", VariableType::Numeric});
    variables.append({"Giorno", "46364.5", VariableType::Date});
    QCOMPARE(substituteVariables(text, variables), result);
}

void TestTicketPrint::layoutLinesAndOutput()
{
    QStringList warnings;
    const TicketLayout layout = TicketLayout::parse(
        QStringLiteral(
            "# comment\r\n"
            "page 58 40\r\n"
            "output printer Sala d'attesa  \r\n"
            "text x=1 y=2 w=30 h=5 font=\"Liberation Sans\" size=20 bold align=right fit | A | B\n"
            "line x1=0 y1=10 x2=58 y2=10 width=0.5\n"
            "picture x=0 y=0 w=10 h=10 | logo.png\n"
            "text x=abc | bad number\n"
            "text align=middle | bad alignment\n"
            "circle x=1\n"
            "output fax 123\n"
            "page 0 10\n"),
        &warnings);
    QCOMPARE(layout.pageSize, QSizeF(58, 40));
    QCOMPARE(layout.outputKind, PrintTarget::Kind::NamedPrinter);
    QCOMPARE(layout.outputName, QStringLiteral("Sala d'attesa"));
    QCOMPARE(layout.items.size(), 3);
    const LayoutItem &text = layout.items[0];
    QCOMPARE(text.rect, QRectF(1, 2, 30, 5));
    QCOMPARE(text.fontFamily, QStringLiteral("Liberation Sans"));
    QCOMPARE(text.pointSize, 20.0);
    QVERIFY(text.bold && text.fit && !text.italic && !text.wrap);
    QCOMPARE(text.alignment, int(Qt::AlignRight));
    QCOMPARE(text.content, QStringLiteral("A | B"));
    QCOMPARE(layout.items[1].rect, QRectF(QPointF(0, 10), QPointF(58, 10)));
    QCOMPARE(layout.items[2].content, QStringLiteral("logo.png"));
    QCOMPARE(warnings.size(), 5);
    QVERIFY(warnings[0].startsWith(QStringLiteral("line 7:")));
    QVERIFY(warnings[4].startsWith(QStringLiteral("line 11:")));

    // Values fill the file name of a PDF path, never its folder.
    const TicketLayout pdf = TicketLayout::parse(
        QStringLiteral("output pdf /srv/{QualeUtente}/t-{QualeData}-{NumeroDaStampare:03}.pdf\n"));
    QCOMPARE(pdf.target(kTicket),
             (PrintTarget{PrintTarget::Kind::PdfFile,
                          QStringLiteral("/srv/{QualeUtente}/t-08-12-2026-042.pdf")}));
}

void TestTicketPrint::layoutValuesOutOfBounds_data()
{
    QTest::addColumn<QString>("line");    // the layout's third line
    QTest::addColumn<QString>("warning"); // what the log says of it
    QTest::newRow("page very long") << "page 80 1e7"
                                    << "page needs";
    QTest::newRow("page enormous") << "page 1e308 1e308"
                                   << "page needs";
    QTest::newRow("long page at many dots") << "page 10 1000"
                                            << "too large a picture";
    QTest::newRow("field width") << "text | {NumeroDaStampare:2000000000}"
                                 << "not understood";
    QTest::newRow("width INT_MIN") << "text | {NumeroDaStampare:-2147483648}"
                                   << "not understood";
    QTest::newRow("line count") << "text fit wrap lines=1e20 | x"
                                << "lines must be";
    QTest::newRow("font size") << "text size=1e308 fit | x"
                               << "size must be";
    QTest::newRow("box far away") << "box x=1e308 w=10"
                                  << "positions and sizes";
    QTest::newRow("output no port") << "output escpos tcp://127.0.0.1"
                                    << "unusable";
    QTest::newRow("output port 99999") << "output escpos tcp://127.0.0.1:99999"
                                       << "unusable";
    QTest::newRow("output path after port") << "output escpos tcp://10.0.0.5:9100/x"
                                            << "unusable";
}

// A value that could make the kiosk allocate gigabytes is skipped with its line number; an
// output line that cannot be used makes the layout unusable, as an unreadable one is.
void TestTicketPrint::layoutValuesOutOfBounds()
{
    QFETCH(QString, line);
    QFETCH(QString, warning);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Ticket.lbl"));
    writeFile(path, "output escpos tcp://127.0.0.1:9100 dots=4096\ntext | x\n" + line.toUtf8());
    QStringList warnings;
    const auto layout = TicketLayout::load(path, &warnings);
    QVERIFY2(warnings.size() == 1 && warnings[0].startsWith(u"line 3: "), qPrintable(warnings[0]));
    if (warning == u"unusable") {
        QCOMPARE(layout.errorNumber(), ErrorNumber::BadLayout);
        ImageTicketPrinter printer;
        ReportEngine engine(printer);
        QCOMPARE(engine.checkReady(path).errorNumber(), ErrorNumber::BadLayout);
        const PrinterState state = engine.printerState(path);
        QVERIFY(!state.canPrint() && printer.readyChecks == 0);
        QVERIFY2(state.detail.contains(u"line 3"), qPrintable(state.detail));
        return;
    }
    QVERIFY2(warnings[0].contains(warning), qPrintable(warnings[0]));
    QCOMPARE(layout->pageSize, TicketLayout().pageSize);
    QCOMPARE(layout->items.size(), 1);
    ImageTicketPrinter paper(4096 / layout->pageSize.width()); // what is left: a few tens of MB
    QVERIFY(paper.print(layout->pageSize, 1, {},
                        [&](QPainter &painter, int) { renderTicket(painter, *layout, kTicket); }));
    QVERIFY(paper.lastPages.first().sizeInBytes() < 40'000'000);
}

void TestTicketPrint::shippedLayoutIsCleanAndPrintsToTheDefaultPrinter()
{
    QStringList warnings;
    const auto layout = TicketLayout::load(QStringLiteral(NX7_TICKET_LAYOUT), &warnings);
    QVERIFY(layout);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
    QCOMPARE(layout->outputKind, PrintTarget::Kind::DefaultPrinter);
    QCOMPARE(layout->pageSize.width(), 80.0);
    QString texts;
    for (const LayoutItem &item : layout->items) {
        QVERIFY(item.rect.right() <= layout->pageSize.width());
        QVERIFY(item.rect.bottom() <= layout->pageSize.height());
        texts += item.content + u'\n';
    }
    for (const char *name : {"{NumeroDaStampare}", "{QualeUtente}", "{NumeroArrivati:min0}",
                             "{QualeData}", "{QualeOra}", "{AttesaStimata}"})
        QVERIFY2(texts.contains(QLatin1StringView(name)), name);

    // The line the demo rewrites to get PDF tickets.
    QFile file(QStringLiteral(NX7_TICKET_LAYOUT));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("\noutput "), 1);
}

void TestTicketPrint::shippedLayoutKeepsLongNamesAndCountsOnThePaper()
{
    const auto layout = TicketLayout::load(QStringLiteral(NX7_TICKET_LAYOUT));
    QVERIFY(layout);
    ReportVariables ticket = kTicket;
    ticket[1].contents = QStringLiteral("Anagrafe, Stato Civile e Carte d'Identità Elettroniche ");
    ticket[3].contents = QStringLiteral("123456");
    QImage page(640, 840, QImage::Format_Grayscale8); // 8 dots per mm
    page.setDotsPerMeterX(8000);
    page.setDotsPerMeterY(8000);
    // The long name takes two lines at a readable size instead of one line at about 6 pt.
    for (const LayoutItem &item : layout->items) {
        if (item.content == u"{QualeUtente}")
            QVERIFY(fittedPointSize(item, ticket[1].contents, item.rect.size() * 8, &page) >= 10);
    }
    // The six-digit count is not cut at the edges of its 72 mm box: no ink on them.
    page.fill(Qt::white);
    QPainter painter(&page);
    renderTicket(painter, *layout, ticket);
    painter.end();
    for (int y = 71 * 8; y < 79 * 8; ++y) {
        for (int x : {31, 32, 33, 607, 608, 609})
            QVERIFY2(page.constScanLine(y)[x] > 128,
                     qPrintable(QStringLiteral("cut at %1").arg(y)));
    }
}

void TestTicketPrint::engineGathersEveryLabelBeforePrinting()
{
    QTemporaryDir dir;
    const QString layoutPath = dir.filePath(QStringLiteral("Ticket.lbl"));
    writeFile(layoutPath, "page 80 40\noutput default\ntext | {NumeroDaStampare}\n");
    ImageTicketPrinter printer;
    ReportEngine engine(printer);
    LabelFeeder feeder{engine, {kTicket, kTicket, kTicket}};
    feeder.labels[1][5].contents = QStringLiteral("43");
    feeder.labels[2][5].contents = QStringLiteral("44");
    engine.setDefineVariablesHandler(std::ref(feeder));

    QString project = layoutPath;
    QVERIFY(engine.printRun(0, 1, project, 0, 256, 0, nullptr, QString(), 0, QString()));
    QCOMPARE(feeder.given, 3);
    QCOMPARE(feeder.threads, QList<Qt::HANDLE>(3, QThread::currentThreadId()));
    QCOMPARE(engine.lastRunLabels().size(), 3);
    QCOMPARE(engine.lastRunLabels()[2][5].contents, QStringLiteral("44"));
    QCOMPARE(printer.lastPages.size(), 3);
    QVERIFY(printer.lastPages[0] != printer.lastPages[1]); // different numbers painted

    // A missing layout prints nothing and asks for no variables.
    feeder.given = 0;
    QString missing = dir.filePath(QStringLiteral("None.lbl"));
    QCOMPARE(
        engine.printRun(0, 1, missing, 0, 256, 0, nullptr, QString(), 0, QString()).errorNumber(),
        ErrorNumber::FileNotFound);
    QCOMPARE(feeder.given, 0);
    QCOMPARE(printer.targets.size(), 1);

    // A handler that never reports the last row cannot print forever.
    engine.setDefineVariablesHandler([](qint32, qint32, qint32 &, qint32 &) {});
    QCOMPARE(
        engine.printRun(0, 1, project, 0, 256, 0, nullptr, QString(), 0, QString()).errorNumber(),
        ErrorNumber::InvalidProcedureCall);
    QCOMPARE(printer.targets.size(), 1);
}

void TestTicketPrint::pdfTicketCarriesTheValues()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QTemporaryDir dir;
    QFile shipped(QStringLiteral(NX7_TICKET_LAYOUT));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QByteArray layout = shipped.readAll();
    layout.replace("\noutput default",
                   "\noutput pdf " + QFile::encodeName(dir.filePath(QStringLiteral("ticket.pdf"))));
    const QString layoutPath = dir.filePath(QStringLiteral("Ticket.lbl"));
    writeFile(layoutPath, layout);

    SystemPrinters printers;
    ReportEngine engine(printers);
    LabelFeeder feeder{engine, {kTicket}};
    engine.setDefineVariablesHandler(std::ref(feeder));
    QString project = layoutPath;
    QVERIFY(engine.printRun(0, 1, project, 0, 256, 0, nullptr, QString(), 0, QString()));
    const QString text = pdfText(dir.filePath(QStringLiteral("ticket.pdf")));
    QVERIFY2(text.contains(QStringLiteral("Anagrafe")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("42")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Persone in attesa prima di lei: 5")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("08/12/2026")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("ore 10.15")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Attesa stimata: 10–15 minuti")), qPrintable(text));

    // The next ticket gets its own file; the first one stays as it was.
    feeder.given = 0;
    feeder.labels[0][5].contents = QStringLiteral("43");
    QVERIFY(engine.printRun(0, 1, project, 0, 256, 0, nullptr, QString(), 0, QString()));
    QVERIFY(pdfText(dir.filePath(QStringLiteral("ticket-2.pdf"))).contains(QStringLiteral("43")));
    QVERIFY(pdfText(dir.filePath(QStringLiteral("ticket.pdf"))).contains(QStringLiteral("42")));

    // A folder that does not exist is reported, not created.
    feeder.given = 0;
    QString elsewhere = dir.filePath(QStringLiteral("Other.lbl"));
    writeFile(elsewhere,
              "output pdf " + QFile::encodeName(dir.filePath(QStringLiteral("none/t.pdf"))) + "\n");
    QVERIFY(!engine.printRun(0, 1, elsewhere, 0, 256, 0, nullptr, QString(), 0, QString()));
}

void TestTicketPrint::unknownPrinterIsNeverReplacedByAnother()
{
    SystemPrinters printers;
    bool painted = false;
    const Status status = printers
                              .printerFor(PrintTarget{PrintTarget::Kind::NamedPrinter,
                                                      QStringLiteral("nx7-no-such-printer")})
                              .print(QSizeF(80, 100), 1, QStringLiteral("Ticket"),
                                     [&](QPainter &, int) { painted = true; });
    QCOMPARE(status.errorNumber(), ErrorNumber::PrinterError);
    QVERIFY(!painted);

    // Without a print service the default printer is an error too, never a PDF printer
    // without a file (only checked where no printer is set up, so nothing really prints).
    if (QPrinterInfo::availablePrinterNames().isEmpty()) {
        const Status none = printers.printerFor(PrintTarget{})
                                .print(QSizeF(80, 100), 1, QStringLiteral("Ticket"),
                                       [&](QPainter &, int) { painted = true; });
        QCOMPARE(none.errorNumber(), ErrorNumber::PrinterError);
        QVERIFY(!painted);
    }
}

void TestTicketPrint::fullDiskLeavesNoHalfPdf()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ticket.pdf"));
    const QString layoutText = QStringLiteral("page 80 100\ntext size=40 | {NumeroDaStampare}\n");
    const TicketLayout layout = TicketLayout::parse(layoutText);
    SystemPrinters printers;
    TicketPrinter &printer = printers.printerFor(PrintTarget{PrintTarget::Kind::PdfFile, path});
    const auto paint = [&](QPainter &painter, int) { renderTicket(painter, layout, kTicket); };

    Status status;
    {
        test::FileSizeLimit fullDisk(1024); // writes fail as on a full disk
        QVERIFY(fullDisk.ok());
        status = printer.print(QSizeF(80, 100), 1, QStringLiteral("Ticket"), paint);
    }

    QCOMPARE(status.errorNumber(), ErrorNumber::PrinterError);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());

    // With room again the same ticket is written whole.
    QVERIFY(printer.print(QSizeF(80, 100), 1, QStringLiteral("Ticket"), paint));
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QVERIFY(bytes.startsWith("%PDF"));
    QVERIFY(bytes.trimmed().endsWith("%%EOF"));
}

void TestTicketPrint::defineVariablesFlagContract()
{
    TempInstallation installation;
    QVERIFY(installation.ok());
    writeFile(FileName::TicketLayout, "page 80 50\ntext | {NumeroDaStampare}\n");
    TestShell shell;
    ImageTicketPrinter printer;
    ReportEngine engine(printer);
    TicketPrintJob job(installation.stores(), shell, engine);
    TicketContext ticket;
    ticket.issuedNumber = 21;
    QVERIFY(job.WritePrintRow(ticket));

    // Outside a print run there is no row: a call that asks for no move changes nothing,
    // one that does reports the last record.
    qint32 percent = -5;
    qint32 last = 0;
    job.DefineTicketVariables(0, 1, percent, last);
    QCOMPARE(percent, -5);
    QCOMPARE(last, 0);
    job.DefineTicketVariables(0, 0, percent, last);
    QCOMPARE(last, 1);

    // Inside a run: a non-zero flag defines the row's variables but neither moves to the
    // next row nor touches the outputs; the zero flag that follows still sees the row.
    QList<std::pair<qint32, qint32>> outputs;
    engine.setDefineVariablesHandler([&](qint32 user, qint32, qint32 &p, qint32 &l) {
        p = -5;
        job.DefineTicketVariables(user, 1, p, l);
        outputs.append({p, l});
        job.DefineTicketVariables(user, 0, p, l);
        outputs.append({p, l});
    });
    QVERIFY(job.PrintTicket(nullptr));
    QCOMPARE(outputs, (QList<std::pair<qint32, qint32>>{{-5, 0}, {0, 1}}));
    QCOMPARE(engine.lastRunLabels().size(), 1);
    QCOMPARE(engine.lastRunLabels().first().at(5).contents, QStringLiteral("21"));
    QCOMPARE(printer.lastPages.size(), 1);
}

QTEST_MAIN(TestTicketPrint)
#include "test_ticketprint.moc"
