// The kiosks of one installation numbering together on PostgreSQL: several kiosk processes
// (nx7bench's headless kiosk) issuing at once for the same services.
#include "numberingstart.h"
#include "serverbackend.h"
#include "sharednumbering.h"
#include "stationstate.h"
#include "ticketstore.h"

#include <QProcess>
#include <QtTest>

#include <map>

using namespace nx7;

class TestSharedNumbering : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(test::ServerBackend::start(&error), qPrintable(error));
    }
    void cleanupTestCase() { test::ServerBackend::stop(); }

    void switchRefusedOnDatabaseFile();
    void kiosksGiveEveryNumberOnce_data();
    void kiosksGiveEveryNumberOnce();
};

void TestSharedNumbering::switchRefusedOnDatabaseFile()
{
    auto inst = test::ServerBackend::install(test::ServerBackend::SQLite);
    auto db = inst->stores().server(inst->serverPath());
    QVERIFY(db);
    const Status refused = SharedNumbering::setOn(*db, true);
    QCOMPARE(refused.error().description, SharedNumbering::NeedsPostgres);
    QCOMPARE(*SharedNumbering::isOn(inst->stores(), inst->serverPath()), false);
}

void TestSharedNumbering::kiosksGiveEveryNumberOnce_data()
{
    QTest::addColumn<bool>("killOne");
    QTest::addColumn<bool>("startMeanwhile"); // an attended initial start on another kiosk
    QTest::addColumn<int>("tickets");         // per kiosk: the start must fall within them
    QTest::newRow("three kiosks") << false << false;
    QTest::newRow("one killed mid-ticket") << true << false;
    QTest::newRow("attended start meanwhile") << false << true;
}

// Whatever happens meanwhile, each service's queue holds 1, 2, ... n, each once: a number is
// given out only with its queue row, and the attended start empties both together.
void TestSharedNumbering::kiosksGiveEveryNumberOnce()
{
    QFETCH(bool, killOne);
    QFETCH(bool, startMeanwhile);
    constexpr int tickets = 150; // per kiosk
    auto inst = test::ServerBackend::install(test::ServerBackend::PostgreSQL);
    QVERIFY2(inst->ok(), qPrintable(inst->error()));
    {
        auto db = inst->stores().server(inst->serverPath());
        QVERIFY(db);
        QVERIFY(SharedNumbering::setOn(*db, true));
    }
    std::vector<std::unique_ptr<QProcess>> kiosks;
    for (int k = 0; k < 3; ++k) {
        const QString station = inst->stationPath() + QStringLiteral("/../kiosk%1").arg(k);
        QVERIFY(Installation::createStation(station, inst->serverPath()));
        QFile::copy(QStringLiteral(NX7_TICKET_LAYOUT), station + QStringLiteral("/Ticket.lbl"));
        auto kiosk = std::make_unique<QProcess>();
        kiosk->setWorkingDirectory(station);
        kiosk->start(QStringLiteral(NX7BENCH),
                     {QStringLiteral("--kiosk-worker"), inst->serverPath(), QStringLiteral("1"),
                      QString::number(tickets), QStringLiteral("0")});
        kiosks.push_back(std::move(kiosk));
    }
    // Once the kiosks have queued a few tickets (they tell their timings only at the end).
    auto db = inst->stores().server(inst->serverPath());
    QVERIFY(db);
    QTRY_VERIFY_WITH_TIMEOUT(TicketStore::queuedTickets(*db)->size() > 10, 30000);
    if (killOne)
        kiosks.front()->kill();
    if (startMeanwhile) {
        StationState state;
        state.serverPath = inst->serverPath();
        const auto outcome = NumberingStart(inst->stores(), state).startInitial();
        QVERIFY2(outcome.started(), qPrintable(outcome.error.description));
        QCOMPARE(state.numbering, StationState::Numbering::Shared);
    }
    for (size_t k = 0; k < kiosks.size(); ++k) {
        kiosks[k]->waitForFinished(60000); // false when it had already ended
        QCOMPARE(kiosks[k]->state(), QProcess::NotRunning);
        if (k > 0 || !killOne)
            QCOMPARE(kiosks[k]->exitCode(), 0);
    }

    auto queue = TicketStore::queuedTickets(*db);
    QVERIFY(queue);
    std::map<int, std::vector<int>> numbers;
    for (const auto &ticket : std::as_const(*queue))
        numbers[ticket.serviceId.toInt()].push_back(ticket.number);
    QVERIFY(!numbers.empty());
    for (auto &[service, issued] : numbers) {
        std::sort(issued.begin(), issued.end());
        for (size_t i = 0; i < issued.size(); ++i)
            QVERIFY2(
                issued[i] == int(i) + 1,
                qPrintable(
                    QStringLiteral("service %1: %2 at %3").arg(service).arg(issued[i]).arg(i)));
    }
    if (!killOne && !startMeanwhile)
        QCOMPARE(queue->size(), 3 * tickets);
}

QTEST_MAIN(TestSharedNumbering)
#include "test_sharednumbering.moc"
