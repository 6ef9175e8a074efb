// The kiosk's side of the notify protocol, against a datagram socket of the test's own in
// place of the service manager's; and the metrics file for the site's monitoring, read as
// the node exporter reads it.
#include "kioskmetrics.h"
#include "kioskservice.h"
#include "kioskstate.h"
#include "servicenotifier.h"
#include "testshell.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <array>
#include <atomic>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace nx7;

class TestServiceNotifier : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { ::close(m_fd); }
    void notifyProtocol_data();
    void notifyProtocol();
    void metricsFile_data();
    void metricsFile();
    void metricsNeverSeenHalfWritten();
    void serviceStateInBothRenderings();

private:
    QStringList take() // every message received so far, oldest first
    {
        QStringList messages;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            messages << QString::fromUtf8(buffer, n);
        return messages;
    }
    qsizetype takePings() { return take().removeAll(QStringLiteral("WATCHDOG=1")); }

    QTemporaryDir m_dir;
    QByteArray m_path = QFile::encodeName(m_dir.filePath(QStringLiteral("notify")));
    int m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
};

// Listens where NOTIFY_SOCKET points, as the service manager would.
void TestServiceNotifier::initTestCase()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, m_path.constData(), sizeof address.sun_path);
    QCOMPARE(::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
}

void TestServiceNotifier::notifyProtocol_data()
{
    QTest::addColumn<bool>("managed");
    QTest::addColumn<QByteArray>("usec");
    QTest::addColumn<QByteArray>("pid");
    QTest::addColumn<int>("interval");
    const QByteArray own = QByteArray::number(qint64(::getpid()));
    QTest::newRow("watchdog, no pid") << true << QByteArray("100000") << QByteArray() << 50;
    QTest::newRow("watchdog for this pid") << true << QByteArray("100000") << own << 50;
    // A launcher this kiosk runs under is the main process: its watchdog, not ours.
    QTest::newRow("watchdog for another pid")
        << true << QByteArray("100000") << QByteArray("1") << 0;
    QTest::newRow("no watchdog") << true << QByteArray() << QByteArray() << 0;
    QTest::newRow("started by hand") << false << QByteArray("100000") << QByteArray() << 0;
}

void TestServiceNotifier::notifyProtocol()
{
    QFETCH(bool, managed);
    QFETCH(QByteArray, usec);
    QFETCH(QByteArray, pid);
    QFETCH(int, interval);
    for (const auto &[name, value] : {std::pair{"NOTIFY_SOCKET", managed ? m_path : QByteArray()},
                                      {"WATCHDOG_USEC", usec},
                                      {"WATCHDOG_PID", pid}})
        value.isEmpty() ? qunsetenv(name) : qputenv(name, value);
    ServiceNotifier notifier;
    QCOMPARE(notifier.pingInterval().count(), interval);
    KioskState state; // a line break would end the STATUS= field and start a bogus one
    state.printerText = QStringLiteral("Stampante non disponibile\n(carta esaurita)");
    const QString line = QStringLiteral("STATUS=Avvio in corso; Stampante non disponibile (carta "
                                        "esaurita); server non verificato; ticket emessi: 0");
    notifier.setStatus(state.statusLine());
    notifier.setStatus(state.statusLine()); // unchanged: not sent again
    notifier.notifyReadyWhenRunning();
    QCOMPARE(take(), managed ? QStringList(line) : QStringList()); // READY waits for the loop
    QTest::qWait(320);
    notifier.notifyReady(); // once only
    QStringList messages = take();
    const qsizetype pings = messages.removeAll(QStringLiteral("WATCHDOG=1"));
    QCOMPARE(messages, managed ? QStringList("READY=1\n" + line) : QStringList());
    QVERIFY2(interval ? pings >= 2 && pings <= 7 : pings == 0, qPrintable(QString::number(pings)));
    if (!interval)
        return;

    QThread::msleep(300); // a frozen GUI thread: the tick is overdue, nobody runs it
    QCOMPARE(takePings(), 0);
    // A modal form, a wait or a print run turns a nested loop: the pings go on.
    QTimer::singleShot(0, this, [] { QTest::qWait(200); });
    QTest::qWait(1);
    QVERIFY(takePings() >= 2);
}

namespace {

// What Prometheus's own checker says of the text (`promtool check metrics`: the parser,
// then the lint of names, types, units and help); empty when all is well.
QString formatProblem(const QByteArray &text)
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        return QStringLiteral("promtool missing (package prometheus, scripts/install-deps.sh)");
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(text);
    check.closeWriteChannel();
    check.waitForFinished();
    return check.exitCode() == 0
               ? QString()
               : QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
}

} // namespace

void TestServiceNotifier::metricsFile_data()
{
    QTest::addColumn<int>("services");
    QTest::addColumn<QList<int>>("issued");  // slots, one ticket each
    QTest::addColumn<QList<int>>("refused"); // slots, printer unavailable
    QTest::addColumn<int>("server");         // -1 unknown, 0 unreachable, 1 reached, 2 refused
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("just started") << 0 << QList<int>{} << QList<int>{} << -1
                                  << QStringList{R"(nx7totem_build_info{version="3.1.17"} 1)",
                                                 R"(nx7totem_window_shown{window="starting"} 1)",
                                                 R"(nx7totem_printer_state{state="ready"} 0)",
                                                 "nx7totem_start_time_seconds 1765270800",
                                                 "nx7totem_last_ticket_timestamp_seconds 0"};
    QTest::newRow("every slot of the screen from 0")
        << 3 << QList<int>{2, 2} << QList<int>{3} << 1
        << QStringList{R"(nx7totem_window_shown{window="kiosk_screen"} 1)",
                       R"(nx7totem_window_shown{window="starting"} 0)",
                       R"(nx7totem_tickets_issued_total{slot="1"} 0)",
                       R"(nx7totem_tickets_issued_total{slot="2"} 2)",
                       R"(nx7totem_tickets_refused_total{slot="3",reason="printer_unavailable"} 1)",
                       R"(nx7totem_tickets_refused_total{slot="3",reason="server_unavailable"} 0)",
                       "nx7totem_server_reachable 1",
                       "nx7totem_server_permission_denied 0",
                       "nx7totem_server_reconnections_total 0",
                       "nx7totem_last_ticket_timestamp_seconds 1765271000"};
    QTest::newRow("a slot beyond the screen still counts")
        << 2 << QList<int>{5} << QList<int>{} << 0
        << QStringList{R"(nx7totem_tickets_issued_total{slot="5"} 1)",
                       R"(nx7totem_tickets_issued_total{slot="4"} 0)",
                       "nx7totem_server_reachable 0"};
    QTest::newRow("refused for lack of rights")
        << 1 << QList<int>{} << QList<int>{1} << 2
        << QStringList{"nx7totem_server_reachable 1", "nx7totem_server_permission_denied 1"};
}

void TestServiceNotifier::metricsFile()
{
    QFETCH(int, services);
    QFETCH(QList<int>, issued);
    QFETCH(QList<int>, refused);
    QFETCH(int, server);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    // The exporter's folder may come later: nothing is written meanwhile, then it is.
    const QString path = dir.filePath(QStringLiteral("textfile/nx7totem.prom"));
    auto state = KioskState::startedAt(QStringLiteral("3.1.17"), 1765270800);
    KioskMetrics metrics(path, [&state] { return state.metricsText(); });
    QVERIFY(!QFile::exists(path));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("textfile")));
    if (services > 0)
        state.setWindow(KioskState::Window::KioskScreen, services);
    using Server = KioskState::Server;
    state.server = std::array{Server::Unknown, Server::Unreachable, Server::Reachable,
                              Server::Refused}[server + 1];
    for (int slot : issued)
        state.ticketIssued(slot, 1765271000);
    for (int slot : refused)
        state.ticketRefused(slot, KioskState::Refusal::PrinterUnavailable);
    metrics.write(); // the first row changes nothing after the folder appears

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text, state.metricsText()); // each change written at once
    // The exporter runs as another user.
    QVERIFY(file.permissions().testFlag(QFileDevice::ReadOther));
    QCOMPARE(formatProblem(text), QString());
    const QStringList written = QString::fromUtf8(text).split(u'\n');
    for (const QString &line : std::as_const(lines))
        QVERIFY2(written.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + text));
    if (server < 0)
        QVERIFY(!text.contains("nx7totem_server_"));

    // The status line names a refusal apart from a server out of reach.
    state.server = Server::Refused;
    QVERIFY(state.statusLine().contains(QStringLiteral("; Permessi insufficienti sul server;")));
    QVERIFY(!state.statusLine().contains(QStringLiteral("voce")));
    state.voiceUsable = false;
    QVERIFY(state.statusLine().contains(QStringLiteral("; voce del tastierino NON disponibile;")));
}

// The node exporter reads whenever it is scraped; the kiosk writes at every change.
void TestServiceNotifier::metricsNeverSeenHalfWritten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nx7totem.prom"));
    auto state = KioskState::startedAt(QStringLiteral("3.1.17"), 1765270800);
    KioskMetrics metrics(path, [&state] { return state.metricsText(); });
    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    QString torn;
    QThread *reader = QThread::create([&] {
        while (writing && torn.isEmpty()) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = file.readAll();
            ++reads;
            if (!text.startsWith("# HELP nx7totem_build_info") ||
                !text.contains("\nnx7totem_last_ticket_timestamp_seconds ") || !text.endsWith('\n'))
                torn = QString::fromUtf8(text);
        }
    });
    reader->start();
    state.setWindow(KioskState::Window::KioskScreen, 20);
    for (int ticket = 1; ticket <= 400; ++ticket) {
        state.ticketIssued(ticket % 20 + 1, 1765271000 + ticket);
        metrics.changed();
    }
    writing = false;
    reader->wait();
    delete reader;
    QVERIFY2(torn.isEmpty(), qPrintable(torn));
    QVERIFY2(reads > 10, qPrintable(QString::number(reads)));
    // Only the file itself is left in the exporter's folder: no temporary file.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("nx7totem.prom")});
}

// The kiosk screens, the printer's states and the refusals as the status line and the
// metrics name them; the next screen of a nightly restart is loaded before the old one is
// gone.
void TestServiceNotifier::serviceStateInBothRenderings()
{
    test::TestClock clock;
    KioskService service(clock, QStringLiteral("9.9"));
    const auto shows = [&](const char *line, const char *sample) {
        return service.statusLine().startsWith(QLatin1String(line)) &&
               service.state().metricsText().contains(sample);
    };
    service.kioskScreenLoaded(6, 0);
    service.kioskScreenLoaded(12, 1); // one active service more than 800 × 600 lays out
    QVERIFY(shows("Schermo del totem con 12 servizi; stampante non verificata; server "
                  "raggiungibile; servizi attivi: 13, lo schermo ne mostra al massimo 12;",
                  "nx7totem_services_without_button 1"));
    service.kioskScreenGone();
    QVERIFY(
        shows("Schermo del totem con 12 servizi; stampante non verificata; server raggiungibile",
              "nx7totem_window_shown{window=\"kiosk_screen\"} 1"));
    service.kioskScreenGone();
    QVERIFY(shows("Finestra di avvio;", "nx7totem_window_shown{window=\"startup_window\"} 1"));
    using Refusal = IssueObserver::Refusal;
    const QList<std::pair<Refusal, QByteArray>> reasons{
        {Refusal::PrinterUnavailable, "printer_unavailable"},
        {Refusal::NumberingFileUnavailable, "numbering_file_unavailable"},
        {Refusal::ServerUnavailable, "server_unavailable"},
        {Refusal::LocalDatabaseFailed, "local_database_failed"}};
    for (const auto &[reason, name] : reasons) {
        service.ticketRefused(3, reason);
        QVERIFY2(service.state().metricsText().contains("{slot=\"3\",reason=\"" + name + "\"} 1"),
                 name.constData());
    }
    KioskState state; // every printer state, in the order they are declared
    for (const char *name : {"ready", "paper_near_end", "paper_out", "cover_open", "unreachable",
                             "error", "layout_unusable", "no_default_printer"}) {
        state.printer = PrinterState::Condition(state.printer ? int(*state.printer) + 1 : 0);
        QVERIFY2(state.metricsText().contains("{state=\"" + QByteArray(name) + "\"} 1"), name);
    }
}

QTEST_GUILESS_MAIN(TestServiceNotifier)
#include "test_servicenotifier.moc"
