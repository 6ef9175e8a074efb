// The kiosk's side of the notify protocol, against a datagram socket of the test's own in
// place of the service manager's.
#include "kioskstatus.h"
#include "servicenotifier.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace nx7;

namespace {

// Listens where NOTIFY_SOCKET points, as the service manager would.
class NotifySocket
{
public:
    NotifySocket()
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_dir.filePath(QStringLiteral("notify")));
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            qFatal("bind %s failed", path.constData());
        qputenv("NOTIFY_SOCKET", path);
    }
    ~NotifySocket()
    {
        ::close(m_fd);
        for (const char *name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
            qunsetenv(name);
    }
    // Every message received so far, oldest first.
    QStringList take()
    {
        QStringList messages;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            messages << QString::fromUtf8(buffer, n);
        return messages;
    }
    qsizetype pingsIn(const QStringList &messages)
    {
        return messages.count(QStringLiteral("WATCHDOG=1"));
    }

private:
    QTemporaryDir m_dir;
    int m_fd = -1;
};

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

class TestServiceNotifier : public QObject
{
    Q_OBJECT
private slots:
    void watchdogOnlyWhenItIsOurs_data();
    void watchdogOnlyWhenItIsOurs();
    void readyOnceWithStatusWhenTheLoopRuns();
    void noPingsWhileTheLoopIsBlocked();
    void withoutManagerNothingIsSent();
    void statusLine_data();
    void statusLine();
};

void TestServiceNotifier::watchdogOnlyWhenItIsOurs_data()
{
    QTest::addColumn<QByteArray>("usec");
    QTest::addColumn<QByteArray>("pid");
    QTest::addColumn<int>("interval");
    const QByteArray own = QByteArray::number(qint64(::getpid()));
    QTest::newRow("no watchdog pid") << QByteArray("100000") << QByteArray() << 50;
    QTest::newRow("watchdog for this process") << QByteArray("100000") << own << 50;
    // The manager's main process is someone else (a launcher this kiosk runs under).
    QTest::newRow("watchdog for another process") << QByteArray("100000") << QByteArray("1") << 0;
    QTest::newRow("no watchdog") << QByteArray() << QByteArray() << 0;
    QTest::newRow("unreadable interval") << QByteArray("soon") << QByteArray() << 0;
}

void TestServiceNotifier::watchdogOnlyWhenItIsOurs()
{
    QFETCH(QByteArray, usec);
    QFETCH(QByteArray, pid);
    QFETCH(int, interval);
    NotifySocket manager;
    if (!usec.isEmpty())
        qputenv("WATCHDOG_USEC", usec);
    if (!pid.isEmpty())
        qputenv("WATCHDOG_PID", pid);
    ServiceNotifier notifier;
    QCOMPARE(notifier.pingInterval().count(), interval);
    runEventLoop(320);
    const qsizetype pings = manager.pingsIn(manager.take());
    if (interval == 0)
        QCOMPARE(pings, 0);
    else
        QVERIFY2(pings >= 4 && pings <= 7, qPrintable(QString::number(pings)));
}

void TestServiceNotifier::readyOnceWithStatusWhenTheLoopRuns()
{
    NotifySocket manager;
    ServiceNotifier notifier;
    QVERIFY(notifier.active());
    KioskStatus status;
    connect(&status, &KioskStatus::changed, &notifier, &ServiceNotifier::setStatus);
    notifier.setStatus(status.line());
    notifier.notifyReadyWhenRunning();
    status.setScreen(KioskStatus::Screen::StartupWindow);
    status.setScreen(KioskStatus::Screen::StartupWindow); // unchanged: not sent again
    QCOMPARE(manager.take(), QStringList({QStringLiteral("STATUS=") + KioskStatus().line(),
                                          QStringLiteral("STATUS=") + status.line()}));
    runEventLoop(0);
    notifier.notifyReady();
    QCOMPARE(manager.take(), QStringList(QStringLiteral("READY=1\nSTATUS=") + status.line()));
}

void TestServiceNotifier::noPingsWhileTheLoopIsBlocked()
{
    NotifySocket manager;
    qputenv("WATCHDOG_USEC", "60000");
    ServiceNotifier notifier;
    runEventLoop(100);
    QVERIFY(manager.pingsIn(manager.take()) > 0);

    // A frozen GUI thread: the timer's tick is overdue but nobody runs it.
    QThread::msleep(300);
    QCOMPARE(manager.pingsIn(manager.take()), 0);

    // A modal form, a wait or a print run turns a nested loop: the pings go on.
    QEventLoop outer;
    QTimer::singleShot(0, &outer, [&] {
        runEventLoop(200);
        outer.quit();
    });
    outer.exec();
    QVERIFY(manager.pingsIn(manager.take()) >= 4);
}

void TestServiceNotifier::withoutManagerNothingIsSent()
{
    NotifySocket manager;
    qunsetenv("NOTIFY_SOCKET");
    qputenv("WATCHDOG_USEC", "60000");
    ServiceNotifier notifier;
    QVERIFY(!notifier.active());
    QCOMPARE(notifier.pingInterval().count(), 0);
    notifier.setStatus(QStringLiteral("x"));
    notifier.notifyReady();
    runEventLoop(100);
    QCOMPARE(manager.take(), QStringList());
}

void TestServiceNotifier::statusLine_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<int>("services");
    QTest::addColumn<QString>("printer");
    QTest::addColumn<int>("server"); // -1 unknown, 0 unreachable, 1 reachable
    QTest::addColumn<QString>("line");
    QTest::newRow("at start")
        << 0 << 0 << QString() << -1
        << "Avvio in corso; stampante: non verificata; server non verificato; ticket emessi: 0";
    QTest::newRow("kiosk screen")
        << 2 << 6 << QStringLiteral("pronta") << 1
        << "Schermo del totem con 6 servizi; stampante: pronta; server raggiungibile; "
           "ticket emessi: 0";
    QTest::newRow("one service, printer text on two lines")
        << 2 << 1 << QStringLiteral("non disponibile\n(carta esaurita)") << 0
        << "Schermo del totem con 1 servizio; stampante: non disponibile (carta esaurita); "
           "server NON raggiungibile; ticket emessi: 0";
    QTest::newRow("back to the start-up window forgets the services")
        << 1 << 6 << QString() << 1
        << "Finestra di avvio; stampante: non verificata; server raggiungibile; ticket emessi: 0";
}

void TestServiceNotifier::statusLine()
{
    QFETCH(int, screen);
    QFETCH(int, services);
    QFETCH(QString, printer);
    QFETCH(int, server);
    QFETCH(QString, line);
    KioskStatus status;
    status.setScreen(KioskStatus::Screen::KioskScreen, 9);
    status.setScreen(KioskStatus::Screen(screen), services);
    status.setPrinterState(printer);
    if (server >= 0)
        status.setServerReachable(server == 1);
    QCOMPARE(status.line(), line);
    QSignalSpy changed(&status, &KioskStatus::changed);
    status.addTicketIssued();
    status.addTicketIssued();
    QCOMPARE(changed.count(), 2);
    QVERIFY(changed.last().first().toString().endsWith(QStringLiteral("ticket emessi: 2")));
}

QTEST_GUILESS_MAIN(TestServiceNotifier)
#include "test_servicenotifier.moc"
