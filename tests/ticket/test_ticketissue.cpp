#include "calllog.h"
#include "database.h"
#include "filenames.h"
#include "filesizelimit.h"
#include "imageticketprinter.h"
#include "numberingfile.h"
#include "stationdata.h"
#include "stationfixture.h"
#include "stationstate.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "textrecord.h"
#include "ticketfakes.h"
#include "ticketissue.h"
#include "ticketstore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nx7;
using namespace nx7::test;

namespace {

// A kiosk with a fresh installation, the shipped layout and fakes for the desktop.
struct Kiosk : StationFixture
{
    explicit Kiosk(int activeServices = 6)
        : Kiosk(ServerBackend::install(ServerBackend::current(), serverOptions(activeServices)),
                activeServices)
    {
    }
    Kiosk(std::unique_ptr<TempInstallation> made, int activeServices)
        : StationFixture(std::move(made)), estimator(calls, clock),
          issue(installation.stores(), state, shell, clock, waiter, printer, &estimator)
    {
        QFile::copy(QStringLiteral(NX7_TICKET_LAYOUT),
                    QDir(installation.stationPath()).filePath(FileName::TicketLayout));
        issue.setObserver(&observer);
        screen.context.screenDateText = QStringLiteral("08/12/2026");
        for (int slot = 1; slot <= kSlotCount; ++slot) {
            screen.context.slotNextNumber[slot] = 1;
            if (slot <= activeServices) {
                screen.context.slotServiceId[slot] = slot;
                screen.captions[slot] = QStringLiteral("Servizio %1 ").arg(slot);
            }
        }
    }

    QList<QVariantList> rows(const QString &database, const QString &sql)
    {
        return test::rows(database, sql);
    }
    QVariant localValue(const QString &sql) { return scalar(installation.localDatabase(), sql); }
    QVariant serverValue(const QString &sql) { return scalar(installation.serverDatabase(), sql); }
    int queueLength() { return test::queueLength(installation); }
    int attesa(int id)
    {
        return serverValue(
                   QStringLiteral("SELECT \"Attesa\" FROM \"Servizi\" WHERE \"ID\" = %1").arg(id))
            .toInt();
    }
    void setCalling(int slot, const QByteArray &contents)
    {
        QVERIFY(TextRecord::writeFileAtomically(installation.numberingFile(slot), contents));
    }

    FakeWaiter waiter;
    ImageTicketPrinter printer;
    FakeTicketScreen screen;
    RecordingObserver observer;
    std::shared_ptr<CallLog> calls = std::make_shared<CallLog>();
    WaitEstimator estimator;
    TicketIssue issue;
};

const QStringList kIssued{"show", "disable", "disable", "hide", "enable"};
const QStringList kAbandoned{"show", "disable", "hide", "enable"};

// Another process holding the exclusive lock of a file, as a counter station would.
class LockHolder
{
public:
    // Holds the lock for holdMs milliseconds, or until killed when holdMs is 0.
    bool start(const QString &path, int holdMs)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        const QByteArray name = QFile::encodeName(path);
        m_pid = ::fork();
        if (m_pid == 0) {
            const int fd = ::open(name.constData(), O_RDONLY);
            char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'L' : 'E';
            [[maybe_unused]] const auto written = ::write(fds[1], &ok, 1);
            if (holdMs > 0)
                ::usleep(useconds_t(holdMs) * 1000);
            else
                for (;;)
                    ::pause();
            ::_exit(0);
        }
        ::close(fds[1]);
        char got = 0;
        const bool locked = ::read(fds[0], &got, 1) == 1 && got == 'L';
        ::close(fds[0]);
        return locked;
    }
    ~LockHolder()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

} // namespace

class TestTicketIssue : public test::BackendSuite
{
    Q_OBJECT
public:
    TestTicketIssue()
        : BackendSuite(
              {"lockedFileIsWaitedForUntilReleased", "lockNeverReleasedAbandonsWithinTheBound",
               "lockWaitStopsWhenTheProgramEnds", "emptyPrintTableShowsTheNoDataMessage",
               "printRowWithoutId1GetsTheValuesButNothingIsPrinted",
               "printingProblemsDoNotStopTheIssue", "localDatabaseTakingNoWriteUsesNoNumber"})
    {
    }

private Q_SLOTS:
    void countingExample();
    void slotsUseTheirColumnAndFile_data();
    void slotsUseTheirColumnAndFile();
    void negativePeopleAheadIsStoredAsComputed();
    void overflowAtTheLastNumberWritesNothing();
    void numberingValuesBeyond32BitsStillIssue_data();
    void numberingValuesBeyond32BitsStillIssue();
    void missingNumberingFolderSkipsANumber();
    void lockedFileIsWaitedForUntilReleased();
    void lockNeverReleasedAbandonsWithinTheBound();
    void lockWaitStopsWhenTheProgramEnds();
    void secondTouchDuringAnIssueProducesNothing();
    void waitingMessageOnAndOff();
    void unknownServiceUpdatesNoRow();
    void counterStationThroughOdbc();
    void emptyPrintTableShowsTheNoDataMessage();
    void printRowWithoutId1GetsTheValuesButNothingIsPrinted();
    void printingProblemsDoNotStopTheIssue();
    void serverHeldByAnotherStationAbandonsTheTicket();
    void waitingCountAndQueueRowAreWrittenTogether_data();
    void waitingCountAndQueueRowAreWrittenTogether();
    void localDatabaseTakingNoWriteUsesNoNumber_data();
    void localDatabaseTakingNoWriteUsesNoNumber();
    void connectionLostDuringTheTicket_data();
    void connectionLostDuringTheTicket();
    void failoverToTheStandbyKeepsIssuing();
};

void TestTicketIssue::countingExample()
{
    Kiosk k;
    QCOMPARE(NumberingFile::readCallingNumber(k.installation.numberingFile(3)).value(), 1.0);

    k.issue.IssueTicket(k.screen, 3);
    const TicketContext &t = k.screen.context;
    QCOMPARE(t.issuedNumber, 1);
    QCOMPARE(t.peopleAhead, 0);
    QCOMPARE(t.issuedServiceName, QStringLiteral("Servizio 3 "));
    QCOMPARE(t.issuedTime, QStringLiteral("10.15"));
    QCOMPARE(t.slotNextNumber[3], 2);
    QCOMPARE(k.attesa(3), 1);
    QCOMPARE(k.localValue(QStringLiteral("SELECT P3 FROM Numerazione")).toInt(), 2);
    QCOMPARE(k.screen.events, kIssued);
    QVERIFY(!k.shell.programEnded());
    QVERIFY(k.shell.messages.isEmpty());

    // The queue row and the print row carry the same ticket.
    const auto queue =
        k.rows(k.installation.serverDatabase(),
               QStringLiteral("SELECT \"ServizioID\", \"SErvizio\", \"Ora\", "
                              "\"SeChiamato\", \"NrDaChiamare\" FROM \"Codafromtotem\""));
    QCOMPARE(queue.size(), 1);
    QCOMPARE(queue[0], (QVariantList{3, "Servizio 3 ", "10.15.30", 0, 1}));
    const auto print = k.rows(k.installation.localDatabase(),
                              QStringLiteral("SELECT ID, QualeUtente, QualeData, NumeroArrivati, "
                                             "QualeOra, NumeroDaStampare FROM DatiDaStampare"));
    QCOMPARE(print.size(), 1);
    QCOMPARE(print[0], (QVariantList{1, "Servizio 3 ", "08/12/2026", 0, "10.15", 1}));

    // The engine was given one variable per column, named and typed as the columns.
    QCOMPARE(k.issue.reportEngine().lastRunLabels().size(), 1);
    const ReportVariables expected{
        {"ID", "1", VariableType::Numeric},
        {"QualeUtente", "Servizio 3 ", VariableType::Text},
        {"QualeData", "08/12/2026", VariableType::Text},
        {"NumeroArrivati", "0", VariableType::Numeric},
        {"QualeOra", "10.15", VariableType::Text},
        {"NumeroDaStampare", "1", VariableType::Numeric},
        {"AttesaStimata", "", VariableType::Text}, // no pace known yet
    };
    QCOMPARE(k.issue.reportEngine().lastRunLabels().first(), expected);
    QCOMPARE(k.printer.targets, (QList<PrintTarget>{PrintTarget{}}));
    QCOMPARE(k.printer.lastPages.size(), 1);

    // The counters have called up to 4 while the kiosk went on to 9.
    k.setCalling(3, "4\r\n");
    k.screen.context.slotNextNumber[3] = 9;
    k.clock.advanceSeconds(95);
    // For the last hour they called a number every two minutes, with people waiting.
    const QDateTime hourAgo = k.clock.now().addSecs(-3600);
    k.calls->noteIssued(3, 8, hourAgo);
    for (int called = 0; called <= 30; ++called)
        k.calls->observe(3, 1 + called, hourAgo.addSecs(120 * called));
    k.issue.IssueTicket(k.screen, 3);
    QVERIFY(t.estimatedWait);
    QCOMPARE(t.estimatedWait->middleSeconds, 11 * 60); // 5 ahead and half a turn, 2 min each
    QCOMPARE(k.issue.reportEngine().lastRunLabels().first().constLast().contents,
             WaitEstimateText::printed(t.estimatedWait));
    QCOMPARE(t.issuedNumber, 9);
    QCOMPARE(t.peopleAhead, 5);
    QCOMPARE(k.attesa(3), 6);
    QCOMPARE(k.localValue(QStringLiteral("SELECT P3 FROM Numerazione")).toInt(), 10);
    QCOMPARE(k.queueLength(), 2);
    QCOMPARE(k.issue.reportEngine().lastRunLabels().first().at(5).contents, QStringLiteral("9"));
    QCOMPARE(k.issue.reportEngine().lastRunLabels().first().at(3).contents, QStringLiteral("5"));
    QCOMPARE(k.serverValue(QStringLiteral(
                 "SELECT \"Ora\" FROM \"Codafromtotem\" WHERE \"NrDaChiamare\" = 9")),
             QVariant(QStringLiteral("10.17.05")));
}

void TestTicketIssue::slotsUseTheirColumnAndFile_data()
{
    QTest::addColumn<int>("slot");
    for (int slot : {1, 10, 20})
        QTest::addRow("slot %d", slot) << slot;
}

void TestTicketIssue::slotsUseTheirColumnAndFile()
{
    QFETCH(int, slot);
    Kiosk k(20);
    QVERIFY(k.installation.numberingFile(slot).endsWith(
        QStringLiteral("/NrAll/NrAllS%1.txt").arg(slot)));
    // Each file says something different, so the people ahead show which one was read.
    for (int s = 1; s <= kSlotCount; ++s)
        k.setCalling(s, QByteArray::number(100 + s) + "\r\n");
    k.screen.context.slotNextNumber[slot] = 500;

    k.issue.IssueTicket(k.screen, slot);
    QCOMPARE(k.screen.context.peopleAhead, 500 - (100 + slot));
    const auto numbering =
        k.rows(k.installation.localDatabase(), QStringLiteral("SELECT * FROM Numerazione"));
    for (int s = 1; s <= kSlotCount; ++s)
        QCOMPARE(numbering[0][s - 1].toInt(), s == slot ? 501 : 1);
    QCOMPARE(k.attesa(slot), 500 - (100 + slot) + 1);
    QCOMPARE(k.serverValue(QStringLiteral("SELECT \"ServizioID\" FROM \"Codafromtotem\"")).toInt(),
             slot);
    QCOMPARE(k.serverValue(QStringLiteral("SELECT \"SErvizio\" FROM \"Codafromtotem\"")).toString(),
             QStringLiteral("Servizio %1 ").arg(slot));
}

void TestTicketIssue::negativePeopleAheadIsStoredAsComputed()
{
    Kiosk k;
    k.setCalling(2, "\"15\"\r\n");
    k.screen.context.slotNextNumber[2] = 9;
    k.issue.IssueTicket(k.screen, 2);
    QCOMPARE(k.screen.context.peopleAhead, -6);
    QCOMPARE(k.attesa(2), -5);
    QCOMPARE(k.localValue(QStringLiteral("SELECT NumeroArrivati FROM DatiDaStampare")).toInt(), -6);

    // An empty file means nobody was called yet: everybody before this number is ahead.
    k.setCalling(2, "");
    k.issue.IssueTicket(k.screen, 2);
    QCOMPARE(k.screen.context.peopleAhead, 10);
    QCOMPARE(k.attesa(2), 11);
}

void TestTicketIssue::overflowAtTheLastNumberWritesNothing()
{
    Kiosk k;
    k.screen.context.slotNextNumber[1] = 2147483646;
    k.issue.IssueTicket(k.screen, 1);
    QCOMPARE(k.screen.context.issuedNumber, 2147483646);
    QCOMPARE(k.localValue(QStringLiteral("SELECT P1 FROM Numerazione")).toInt(), 2147483647);
    QCOMPARE(k.queueLength(), 1);
    QVERIFY(!k.shell.programEnded());
    const int printsBefore = int(k.printer.targets.size());
    k.screen.events.clear();

    k.issue.IssueTicket(k.screen, 1);
    QVERIFY(k.shell.programEnded());
    QCOMPARE(k.shell.messages.size(), 1);
    QVERIFY(k.shell.messages[0].text.startsWith(QStringLiteral("Errore di run-time '6':")));
    QCOMPARE(k.screen.context.slotNextNumber[1], 2147483647);
    QCOMPARE(k.localValue(QStringLiteral("SELECT P1 FROM Numerazione")).toInt(), 2147483647);
    QCOMPARE(k.localValue(QStringLiteral("SELECT NumeroDaStampare FROM DatiDaStampare")).toInt(),
             2147483646);
    QCOMPARE(k.queueLength(), 1);
    QCOMPARE(k.printer.targets.size(), printsBefore);
    QVERIFY(!k.issue.issuing());
}

void TestTicketIssue::numberingValuesBeyond32BitsStillIssue_data()
{
    QTest::addColumn<QByteArray>("contents"); // of the numbering file of slot 2
    QTest::addColumn<int>("next");
    QTest::addColumn<int>("ahead");
    // A station's bad write holds no calling number: read as 0, as a text would be.
    QTest::newRow("beyond 32 bits") << QByteArray("3000000000\r\n") << 1 << 1;
    QTest::newRow("below 32 bits") << QByteArray("-3000000000\r\n") << 7 << 7;
    QTest::newRow("twenty digits") << QByteArray("99999999999999999999") << 5 << 5;
    // In range, but the waiting count one more would not be: kept where it fits.
    QTest::newRow("waiting count at the limit") << QByteArray("-1\r\n") << 2147483646 << 2147483646;
    QTest::newRow("lowest calling number") << QByteArray("-2147483648\r\n") << 5 << 2147483646;
}

void TestTicketIssue::numberingValuesBeyond32BitsStillIssue()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, next);
    QFETCH(int, ahead);
    Kiosk k;
    k.setCalling(2, contents);
    k.screen.context.slotNextNumber[2] = next;
    // The log names the file the station wrote.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("NrAllS2\\.txt")));
    k.issue.IssueTicket(k.screen, 2);
    QVERIFY(!k.shell.programEnded());
    QVERIFY(k.shell.messages.isEmpty());
    QCOMPARE(k.screen.context.issuedNumber, next);
    QCOMPARE(k.screen.context.peopleAhead, ahead);
    QCOMPARE(k.attesa(2), ahead + 1);
    QCOMPARE(k.localValue(QStringLiteral("SELECT P2 FROM Numerazione")).toLongLong(),
             qint64(next) + 1);
    QCOMPARE(k.queueLength(), 1);
    QCOMPARE(
        k.serverValue(QStringLiteral("SELECT \"NrDaChiamare\" FROM \"Codafromtotem\"")).toInt(),
        next);
    QCOMPARE(k.printer.targets.size(), 1);
    QVERIFY(!k.issue.issuing());
}

void TestTicketIssue::missingNumberingFolderSkipsANumber()
{
    Kiosk k;
    const QString folder = QFileInfo(k.installation.numberingFile(4)).path();
    QVERIFY(QDir(folder).removeRecursively());
    LogCapture log;

    k.issue.IssueTicket(k.screen, 4);
    QCOMPARE(k.screen.events, kAbandoned);
    QVERIFY(!k.shell.programEnded());
    QVERIFY(k.shell.messages.isEmpty());
    QCOMPARE(k.queueLength(), 0);
    QCOMPARE(k.attesa(4), 0);
    QVERIFY(k.printer.targets.isEmpty());
    QCOMPARE(k.localValue(QStringLiteral("SELECT NumeroDaStampare FROM DatiDaStampare")).toInt(),
             0);
    QCOMPARE(k.localValue(QStringLiteral("SELECT P4 FROM Numerazione")).toInt(), 2);
    QVERIFY(k.waiter.waits.isEmpty());
    const QString logged = LogCapture::text();
    QVERIFY2(logged.contains(QStringLiteral("slot 4, number 1 skipped")), qPrintable(logged));
    QVERIFY2(logged.contains(QStringLiteral("(76)")), qPrintable(logged));
    QCOMPARE(k.screen.notices, QStringList{TicketIssue::BusyNotice});

    // Once the folder is back, the same button goes on with the following number.
    QVERIFY(QDir().mkpath(folder));
    k.setCalling(4, "1\r\n");
    k.issue.IssueTicket(k.screen, 4);
    QCOMPARE(k.screen.context.issuedNumber, 2);
    QCOMPARE(k.queueLength(), 1);
    // Unreachable (1), numbering file (1); then reached twice (0) and issued.
    QCOMPARE(k.observer.calls,
             (QStringList{"server 1", "refused 4 1", "server 0", "server 0", "issued 4"}));
}

void TestTicketIssue::lockedFileIsWaitedForUntilReleased()
{
    Kiosk k;
    k.issue.setLockRetry({std::chrono::milliseconds(20), std::chrono::milliseconds(5000)});
    LockHolder holder;
    QVERIFY(holder.start(k.installation.numberingFile(5), 300));
    QCOMPARE(NumberingFile::readCallingNumber(k.installation.numberingFile(5)).errorNumber(),
             ErrorNumber::PermissionDenied);

    QElapsedTimer timer;
    timer.start();
    k.issue.IssueTicket(k.screen, 5);
    QVERIFY(timer.elapsed() < 4000);
    QCOMPARE(k.screen.events, kIssued);
    QCOMPARE(k.queueLength(), 1);
    QCOMPARE(k.attesa(5), 1);
}

void TestTicketIssue::lockNeverReleasedAbandonsWithinTheBound()
{
    Kiosk k;
    k.issue.setLockRetry({std::chrono::milliseconds(50), std::chrono::milliseconds(400)});
    LockHolder holder;
    QVERIFY(holder.start(k.installation.numberingFile(5), 0));
    LogCapture log;

    QElapsedTimer timer;
    timer.start();
    k.issue.IssueTicket(k.screen, 5);
    QVERIFY(timer.elapsed() >= 400);
    QVERIFY(timer.elapsed() < 3000);
    QCOMPARE(k.screen.events, kAbandoned);
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(k.queueLength(), 0);
    QVERIFY(k.printer.targets.isEmpty());
    QCOMPARE(k.localValue(QStringLiteral("SELECT P5 FROM Numerazione")).toInt(), 2);
    QVERIFY2(LogCapture::text().contains(QStringLiteral("slot 5, number 1 skipped")),
             qPrintable(LogCapture::text()));
    QVERIFY(LogCapture::text().contains(QStringLiteral("(70)")));
    // The customer is told, on the panel, without a box to press.
    QCOMPARE(k.screen.notices, QStringList{TicketIssue::BusyNotice});
    QVERIFY(k.shell.messages.isEmpty());
}

void TestTicketIssue::lockWaitStopsWhenTheProgramEnds()
{
    Kiosk k;
    k.issue.setLockRetry({std::chrono::milliseconds(20), std::chrono::milliseconds(5000)});
    LockHolder holder;
    QVERIFY(holder.start(k.installation.numberingFile(5), 0));
    // Something ends the program while the issue waits for the counter station.
    QTimer::singleShot(150, [&] { k.shell.endProgram(); });

    QElapsedTimer timer;
    timer.start();
    k.issue.IssueTicket(k.screen, 5);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!k.issue.issuing());
    QCOMPARE(k.queueLength(), 0);
    QVERIFY(k.printer.targets.isEmpty());
    QCOMPARE(k.screen.events, kAbandoned);
}

void TestTicketIssue::secondTouchDuringAnIssueProducesNothing()
{
    Kiosk k;
    k.state.waitMessageEnabled = true;
    k.state.waitSeconds = 7;
    bool issuingDuringWait = false;
    k.waiter.during = [&] {
        issuingDuringWait = k.issue.issuing();
        k.issue.IssueTicket(k.screen, 2); // a touch that got through while the screen was held
        k.issue.IssueTicket(k.screen, 1);
    };
    k.issue.IssueTicket(k.screen, 1);
    QVERIFY(issuingDuringWait);
    QVERIFY(!k.issue.issuing());
    QCOMPARE(k.waiter.waits, (QList<qint32>{7}));
    QCOMPARE(k.queueLength(), 1);
    QCOMPARE(k.screen.context.slotNextNumber[1], 2);
    QCOMPARE(k.screen.context.slotNextNumber[2], 1);
    QCOMPARE(k.printer.targets.size(), 1);
    QCOMPARE(k.screen.events, kIssued);
}

void TestTicketIssue::waitingMessageOnAndOff()
{
    Kiosk k;
    k.state.waitMessageEnabled = false;
    k.state.waitSeconds = 5;
    k.issue.IssueTicket(k.screen, 1);
    QVERIFY(k.waiter.waits.isEmpty());

    k.state.waitMessageEnabled = true;
    QStringList eventsAtWait;
    k.waiter.during = [&] { eventsAtWait = k.screen.events; };
    k.screen.events.clear();
    k.issue.IssueTicket(k.screen, 1);
    QCOMPARE(k.waiter.waits, (QList<qint32>{5}));
    // The panel stays shown and the screen held during the wait.
    QCOMPARE(eventsAtWait, (QStringList{"show", "disable", "disable"}));
    QCOMPARE(k.screen.events, kIssued);
}

void TestTicketIssue::unknownServiceUpdatesNoRow()
{
    NX7_ON_BACKEND_ONLY(ServerBackend::SQLite,
                        "only SQLite stores a text in the integer \"ServizioID\"");
    Kiosk k;
    const auto before =
        k.rows(k.installation.serverDatabase(), QStringLiteral("SELECT * FROM Servizi"));
    LogCapture log;
    // A value that would widen a pasted criterion matches nothing when bound.
    k.screen.context.slotServiceId[2] = QStringLiteral("2 OR 1=1");
    k.issue.IssueTicket(k.screen, 2);
    k.screen.context.slotServiceId[3] = 999;
    k.issue.IssueTicket(k.screen, 3);

    QCOMPARE(k.rows(k.installation.serverDatabase(), QStringLiteral("SELECT * FROM Servizi")),
             before);
    QVERIFY(LogCapture::text().contains(QStringLiteral("service ID \"999\" not found")));
    // The ticket is still recorded and printed.
    QCOMPARE(k.queueLength(), 2);
    QCOMPARE(
        k.serverValue(
             QStringLiteral("SELECT ServizioID FROM Codafromtotem WHERE SErvizio = 'Servizio 3 '"))
            .toInt(),
        999);
    QCOMPARE(k.printer.targets.size(), 2);
    QVERIFY(!k.shell.programEnded());
}

void TestTicketIssue::emptyPrintTableShowsTheNoDataMessage()
{
    Kiosk k;
    {
        auto db = Database::open(k.installation.localDatabase());
        QVERIFY(db);
        QVERIFY(db->deleteAllRows(QStringLiteral("DatiDaStampare")));
    }
    k.issue.IssueTicket(k.screen, 1);
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(k.shell.messages.size(), 1);
    QCOMPARE(k.shell.messages[0].text,
             QStringLiteral("Nessun dato da stampare per questa selezione !"));
    QCOMPARE(k.shell.messages[0].title, Shell::applicationTitle());
    QVERIFY(k.shell.messages[0].icon == Shell::Icon::None); // OK button only, no icon
    QVERIFY(k.printer.targets.isEmpty());
    QCOMPARE(k.queueLength(), 1);
    QCOMPARE(k.screen.events, kIssued);
}

void TestTicketIssue::printRowWithoutId1GetsTheValuesButNothingIsPrinted()
{
    Kiosk k;
    {
        auto db = Database::open(k.installation.localDatabase());
        QVERIFY(db);
        QVERIFY(db->exec(QStringLiteral("UPDATE DatiDaStampare SET ID = 7")));
    }
    k.issue.IssueTicket(k.screen, 2);
    // The only row takes the ticket, but the printed row is the one whose ID is 1.
    QCOMPARE(k.localValue(QStringLiteral("SELECT NumeroDaStampare FROM DatiDaStampare "
                                         "WHERE ID = 7"))
                 .toInt(),
             1);
    QCOMPARE(k.localValue(QStringLiteral("SELECT QualeUtente FROM DatiDaStampare")).toString(),
             QStringLiteral("Servizio 2 "));
    QCOMPARE(k.shell.messages.size(), 1);
    QCOMPARE(k.shell.messages[0].text, TicketPrintJob::NoDataMessage);
    QVERIFY(k.printer.targets.isEmpty());
    QCOMPARE(k.queueLength(), 1);
    QCOMPARE(k.attesa(2), 1);
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(k.screen.events, kIssued);
}

void TestTicketIssue::printingProblemsDoNotStopTheIssue()
{
    Kiosk k;
    k.printer.failWith = Error::make(ErrorNumber::PrinterError, QStringLiteral("stampante ferma"));
    LogCapture log;
    k.issue.IssueTicket(k.screen, 1);
    QCOMPARE(k.printer.targets.size(), 1);
    QVERIFY(LogCapture::text().contains(QStringLiteral("stampante ferma")));

    // The ticket was recorded but did not come out: the customer is told so.
    QCOMPARE(k.screen.notices, QStringList{TicketIssue::NotPrintedNotice});

    // Without a layout no ticket can come out: it is refused before a number is used.
    QVERIFY(QFile::remove(FileName::TicketLayout));
    k.issue.IssueTicket(k.screen, 1);
    QCOMPARE(k.printer.targets.size(), 1); // nothing reached the printer
    QVERIFY(LogCapture::text().contains(QStringLiteral("non si può leggere")));
    QCOMPARE(k.screen.notices.last(), TicketIssue::PrinterNotice);
    QCOMPARE(k.screen.context.slotNextNumber[1], 2);

    QVERIFY(!k.shell.programEnded());
    QVERIFY(k.shell.messages.isEmpty());
    QCOMPARE(k.queueLength(), 1);
    QCOMPARE(k.screen.events, kIssued + kAbandoned);
    // Recorded but not printed, then refused for the printer (0) before any server step.
    QCOMPARE(k.observer.calls.mid(2), (QStringList{"issued 1", "not printed 1", "refused 1 0"}));
}

void TestTicketIssue::serverHeldByAnotherStationAbandonsTheTicket()
{
    NX7_ON_BACKEND_ONLY(ServerBackend::SQLite,
                        "another station's lock is taken on the SQLite file");
    Kiosk k;
    // A counter station's long transaction (or a backup) holds the shared database.
    QProcess station;
    station.start(QStringLiteral("sqlite3"), {k.installation.serverDatabase()});
    station.write("BEGIN EXCLUSIVE;\n.shell echo locked\n");
    QVERIFY(station.waitForReadyRead(5000));
    LogCapture log;
    k.issue.IssueTicket(k.screen, 2);
    QVERIFY(k.shell.messages.isEmpty()); // no run-time error report on the customer's screen
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(k.screen.notices, QStringList{TicketIssue::BusyNotice});
    QVERIFY(LogCapture::text().contains(QStringLiteral("slot 2, number 1 skipped")));
    station.kill();
    station.waitForFinished();
    k.issue.IssueTicket(k.screen, 2); // the kiosk goes on with the following number
    QCOMPARE(k.screen.context.issuedNumber, 2);
    QCOMPARE(k.queueLength(), 1);
    // A busy server did answer; the ticket counts as refused for the server (2).
    QCOMPARE(k.observer.calls.mid(0, 3), (QStringList{"server 0", "server 0", "refused 2 2"}));
}

void TestTicketIssue::waitingCountAndQueueRowAreWrittenTogether_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<bool>("programEnds");
    QTest::newRow("disk full") << "database or disk is full" << false;
    // A broken installation keeps the run-time error report.
    QTest::newRow("missing column") << "no such column: NrDaChiamare" << true;
}

void TestTicketIssue::waitingCountAndQueueRowAreWrittenTogether()
{
    NX7_ON_BACKEND_ONLY(ServerBackend::SQLite, "the failure is injected by an SQLite trigger");
    QFETCH(QString, failure);
    QFETCH(bool, programEnds);
    Kiosk k;
    {
        // The second write of the ticket fails after the first went through.
        auto db = Database::open(k.installation.serverDatabase());
        QVERIFY(db);
        QVERIFY(db->exec(QStringLiteral("CREATE TRIGGER failing BEFORE INSERT ON Codafromtotem "
                                        "BEGIN SELECT RAISE(ABORT, '%1'); END")
                             .arg(failure)));
    }
    k.issue.IssueTicket(k.screen, 4);
    QCOMPARE(k.shell.programEnded(), programEnds);
    QCOMPARE(k.screen.notices.isEmpty(), programEnds);
    // Neither write is left in the shared database.
    QCOMPARE(k.attesa(4), 0);
    QCOMPARE(k.queueLength(), 0);
}

void TestTicketIssue::localDatabaseTakingNoWriteUsesNoNumber_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("full disk") << false;
    QTest::newRow("read-only database") << true;
}

void TestTicketIssue::localDatabaseTakingNoWriteUsesNoNumber()
{
    QFETCH(bool, readOnly);
    Kiosk k;
    if (readOnly)
        QVERIFY(run(k.installation.localDatabase(), test::kRefuseLocalWrites));
    {
        FileSizeLimit fullDisk(readOnly ? RLIM_INFINITY : 0);
        k.issue.IssueTicket(k.screen, 1);
    }
    // The customer reads a notice; no box waits for someone to press it.
    QCOMPARE(k.screen.notices, QStringList{TicketIssue::OutOfOrderNotice});
    QVERIFY(k.shell.messages.isEmpty());
    // The counter in memory stays with the stored one.
    QCOMPARE(k.screen.context.slotNextNumber[1], 1);
    QCOMPARE(k.localValue(QStringLiteral("SELECT P1 FROM Numerazione")).toInt(), 1);
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(k.observer.calls, QStringList{"refused 1 3"});
}

namespace {

// The database an installation's "NX7PRO.pg" names.
QString databaseOf(const TempInstallation &installation)
{
    return QRegularExpression(QStringLiteral("dbname=(\\S+)"))
        .match(QString::fromUtf8(
            fileBytes(QDir(installation.serverPath()).filePath(FileName::ServerConnection))))
        .captured(1);
}

// A counter station: unixODBC's plain client isql through psqlODBC, with the driver options
// an Access front-end needs. Its output, one line per row, fields separated by "|".
QStringList odbcStation(const QString &database, const QString &commands)
{
    PostgresServer *pg = ServerBackend::postgres();
    const QString connection =
        QStringLiteral(
            "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=%1;Database=%2;UID=postgres;"
            "TrueIsMinus1=1;BoolsAsChar=0;RowVersioning=1")
            .arg(pg->port())
            .arg(database);
    QProcess isql;
    isql.start(QStringLiteral("isql"), {QStringLiteral("-b"), QStringLiteral("-c"),
                                        QStringLiteral("-d|"), QStringLiteral("-k"), connection});
    if (!isql.waitForStarted(5000))
        return {QStringLiteral("isql not started")};
    isql.write(commands.toUtf8());
    isql.closeWriteChannel();
    isql.waitForFinished(20000);
    return QString::fromUtf8(isql.readAllStandardOutput() + isql.readAllStandardError())
        .split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

void TestTicketIssue::counterStationThroughOdbc()
{
    NX7_ON_BACKEND_ONLY(ServerBackend::PostgreSQL,
                        "the counter stations' ODBC driver is PostgreSQL's");
    Kiosk k;
    k.issue.IssueTicket(k.screen, 1);
    k.issue.IssueTicket(k.screen, 2);
    k.issue.IssueTicket(k.screen, 1);
    const QString database = databaseOf(k.installation);
    QVERIFY(!database.isEmpty());

    // The station sees the tables and their columns spelled exactly.
    const QStringList tables = odbcStation(database, QStringLiteral("help\n"));
    for (const QString &table :
         {QStringLiteral("|Servizi|TABLE|"), QStringLiteral("|Codafromtotem|TABLE|"),
          QStringLiteral("|configurazioneTotem|TABLE|")})
        QVERIFY2(tables.filter(table).size() == 1, qPrintable(tables.join(u'\n')));
    const QStringList columns = odbcStation(database, QStringLiteral("help configurazioneTotem\n"));
    for (const QString &column :
         {QStringLiteral("|FontBoldTItolo|"), QStringLiteral("|Fontitalic|")})
        QVERIFY2(columns.filter(column).size() == 1, qPrintable(columns.join(u'\n')));

    // It reads the queue the kiosk wrote, Yes/No as -1 / 0 as Access expects.
    const QStringList queue = odbcStation(
        database,
        QStringLiteral("SELECT \"ServizioID\", \"SErvizio\", \"SeChiamato\", \"NrDaChiamare\" "
                       "FROM \"Codafromtotem\" ORDER BY \"ID\"\n"));
    QCOMPARE(queue.mid(1),
             (QStringList{QStringLiteral("1|Servizio 1 |0|1"), QStringLiteral("2|Servizio 2 |0|1"),
                          QStringLiteral("1|Servizio 1 |0|2")}));
    const QStringList active = odbcStation(
        database, QStringLiteral("SELECT \"ServizioAttivo\" FROM \"Servizi\" WHERE \"ID\" = 1\n"));
    QCOMPARE(active.value(1), QStringLiteral("-1"));

    // It calls the first ticket of service 1 and rewrites the waiting count.
    odbcStation(
        database,
        QStringLiteral("UPDATE \"Codafromtotem\" SET \"SeChiamato\" = true WHERE \"ID\" = 1\n"
                       "UPDATE \"Servizi\" SET \"Attesa\" = 1 WHERE \"ID\" = 1\n"));

    // The kiosk reads back what the station wrote, and goes on numbering.
    QCOMPARE(k.attesa(1), 1);
    auto db = Database::open(k.installation.serverDatabase(), Database::Sharing::Shared);
    auto queued = TicketStore::queuedTickets(*db);
    QVERIFY(queued);
    QList<bool> called;
    for (const TicketStore::QueuedTicket &ticket : std::as_const(*queued))
        called.append(ticket.called);
    QCOMPARE(called, (QList<bool>{true, false, false}));
    k.setCalling(1, "2\r\n");
    k.issue.IssueTicket(k.screen, 1);
    QCOMPARE(k.screen.context.issuedNumber, 3);
    QCOMPARE(k.attesa(1), 2);
    QCOMPARE(k.queueLength(), 4);
}

namespace {

// Service and number of every queued ticket, in the order they were appended.
QByteArray queuedTickets(PostgresServer &server, const QString &database)
{
    return server.psql(database, QStringLiteral("SELECT \"ServizioID\", \"NrDaChiamare\" FROM "
                                                "\"Codafromtotem\" ORDER BY \"ID\""));
}

} // namespace

void TestTicketIssue::connectionLostDuringTheTicket_data()
{
    // The server ends the kiosk's connection once, at the first ticket's insert (an AFTER
    // trigger) or inside its COMMIT (a deferred one), after `before` ran.
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("before");
    const QString immediate = QStringLiteral("AFTER INSERT ON \"Codafromtotem\" FOR EACH ROW");
    const QString atCommit = QStringLiteral("AFTER INSERT ON \"Codafromtotem\" DEFERRABLE "
                                            "INITIALLY DEFERRED FOR EACH ROW");
    QTest::newRow("while the row is written") << immediate << QString();
    QTest::newRow("during COMMIT, rolled back") << atCommit << QString();
    // The answer to a COMMIT that went through is lost: another session commits the very
    // row, as the server would have, before the connection ends.
    QTest::newRow("during COMMIT, committed")
        << atCommit
        << QStringLiteral("PERFORM dblink_exec('%1', format('INSERT INTO \"Codafromtotem\" "
                          "(\"ServizioID\", \"SErvizio\", \"Ora\", \"SeChiamato\", "
                          "\"NrDaChiamare\") VALUES (%s, %L, %L, false, %s)', "
                          "NEW.\"ServizioID\", NEW.\"SErvizio\", NEW.\"Ora\", "
                          "NEW.\"NrDaChiamare\"));");
}

void TestTicketIssue::connectionLostDuringTheTicket()
{
    NX7_ON_BACKEND_ONLY(ServerBackend::PostgreSQL, "the server ends the connection itself");
    QFETCH(QString, trigger);
    QFETCH(QString, before);
    Kiosk k;
    PostgresServer &server = *ServerBackend::postgres();
    const QString database = databaseOf(k.installation);
    const QString breakOnce =
        QStringLiteral("CREATE EXTENSION IF NOT EXISTS dblink; CREATE SEQUENCE breaks; "
                       "CREATE FUNCTION break_once() RETURNS trigger LANGUAGE plpgsql AS $$ "
                       "BEGIN IF nextval('breaks') = 1 THEN %1 "
                       "PERFORM pg_terminate_backend(pg_backend_pid()); PERFORM pg_sleep(5); "
                       "END IF; RETURN NULL; END $$; "
                       "CREATE CONSTRAINT TRIGGER break_once %2 EXECUTE FUNCTION break_once()")
            .arg(before.isEmpty() ? before : before.arg(server.connectionString(database)),
                 trigger);
    QVERIFY2(!server.psql(database, breakOnce).isNull(), qPrintable(server.error()));

    k.issue.IssueTicket(k.screen, 3); // the connection ends under this ticket
    k.issue.IssueTicket(k.screen, 3);
    QCOMPARE(k.screen.notices, QStringList());
    QCOMPARE(k.printer.targets.size(), 2);
    QCOMPARE(queuedTickets(server, database), QByteArray("3|1\n3|2\n")); // each once
    QCOMPARE(k.screen.events, kIssued + kIssued);
}

void TestTicketIssue::failoverToTheStandbyKeepsIssuing()
{
    NX7_ON_BACKEND_ONLY(ServerBackend::PostgreSQL, "a PostgreSQL primary fails over");
    PostgresServer primary;
    QVERIFY2(primary.ok(), qPrintable(primary.error()));
    const QString database = primary.createDatabase();
    const std::unique_ptr<PostgresServer> standby = primary.startStandby();
    QVERIFY2(standby->ok(), qPrintable(standby->error()));
    const QString bothHosts = QStringLiteral("host=127.0.0.1,127.0.0.1 port=%1,%2 dbname=%3 "
                                             "user=postgres target_session_attrs=read-write")
                                  .arg(primary.port())
                                  .arg(standby->port())
                                  .arg(database);
    Kiosk k(std::make_unique<TempInstallation>(serverOptions(6), bothHosts), 6);
    QVERIFY(k.ready());
    const QList<int> touches{1, 2, 1, 1, 2, 1};
    const int beforeFailover = 3;
    for (int i = 0; i < beforeFailover; ++i)
        k.issue.IssueTicket(k.screen, touches.at(i));

    QVERIFY(primary.stop()); // immediate, as a crash
    QElapsedTimer sinceDeath;
    sinceDeath.start();
    QVERIFY2(standby->promote(), qPrintable(standby->error()));
    const qint64 promoted = sinceDeath.elapsed();
    const quint64 reconnections = Database::serverReconnections();
    k.issue.IssueTicket(k.screen, touches.at(beforeFailover)); // on the kept, dead connection
    const qint64 nextTicket = sinceDeath.elapsed();
    qInfo("failover: standby promoted %lld ms after the primary's death, next ticket after "
          "%lld ms",
          promoted, nextTicket);
    QCOMPARE(Database::serverReconnections(), reconnections + 1);
    for (int i = beforeFailover + 1; i < touches.size(); ++i)
        k.issue.IssueTicket(k.screen, touches.at(i));

    // Every ticket printed, each with its row, no number twice.
    QCOMPARE(k.screen.notices, QStringList());
    QCOMPARE(k.printer.targets.size(), touches.size());
    QCOMPARE(queuedTickets(*standby, database), QByteArray("1|1\n2|1\n1|2\n1|3\n2|2\n1|4\n"));
    QVERIFY(nextTicket < 5000);
}

QTEST_MAIN(TestTicketIssue)
#include "test_ticketissue.moc"
