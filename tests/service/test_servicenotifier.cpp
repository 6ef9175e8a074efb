// The kiosk's side of the notify protocol, against a datagram socket of the test's own in
// place of the service manager's.
#include "kioskstatus.h"
#include "servicenotifier.h"

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
    NotifySocket() : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
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
    QStringList take() // every message received so far, oldest first
    {
        QStringList messages;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            messages << QString::fromUtf8(buffer, n);
        return messages;
    }
    qsizetype takePings() { return take().removeAll(QStringLiteral("WATCHDOG=1")); }

private:
    QTemporaryDir m_dir;
    int m_fd;
};

} // namespace

class TestServiceNotifier : public QObject
{
    Q_OBJECT
private slots:
    void pingsOnlyForOurWatchdog_data();
    void pingsOnlyForOurWatchdog();
    void readyOnceAndNoPingsFromAFrozenLoop();
    void statusStaysOneLine();
};

void TestServiceNotifier::pingsOnlyForOurWatchdog_data()
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

void TestServiceNotifier::pingsOnlyForOurWatchdog()
{
    QFETCH(bool, managed);
    QFETCH(QByteArray, usec);
    QFETCH(QByteArray, pid);
    QFETCH(int, interval);
    NotifySocket manager;
    if (!managed)
        qunsetenv("NOTIFY_SOCKET");
    for (const auto &[name, value] : {std::pair{"WATCHDOG_USEC", usec}, {"WATCHDOG_PID", pid}})
        if (!value.isEmpty())
            qputenv(name, value);
    ServiceNotifier notifier;
    QCOMPARE(notifier.active(), managed);
    QCOMPARE(notifier.pingInterval().count(), interval);
    notifier.notifyReady();
    QTest::qWait(320);
    QStringList messages = manager.take();
    const qsizetype pings = messages.removeAll(QStringLiteral("WATCHDOG=1"));
    QCOMPARE(messages, managed ? QStringList(QStringLiteral("READY=1")) : QStringList());
    QVERIFY2(interval ? pings >= 2 && pings <= 7 : pings == 0, qPrintable(QString::number(pings)));
}

void TestServiceNotifier::readyOnceAndNoPingsFromAFrozenLoop()
{
    NotifySocket manager;
    qputenv("WATCHDOG_USEC", "60000");
    ServiceNotifier notifier;
    notifier.setStatus(QStringLiteral("Avvio"));
    notifier.setStatus(QStringLiteral("Avvio")); // unchanged: not sent again
    notifier.notifyReadyWhenRunning();
    QCOMPARE(manager.take(), QStringList(QStringLiteral("STATUS=Avvio")));
    QTest::qWait(100);
    notifier.notifyReady(); // once only
    QStringList messages = manager.take();
    QVERIFY(messages.removeAll(QStringLiteral("WATCHDOG=1")) > 0);
    QCOMPARE(messages, QStringList(QStringLiteral("READY=1\nSTATUS=Avvio")));

    QThread::msleep(300); // a frozen GUI thread: the tick is overdue, nobody runs it
    QCOMPARE(manager.takePings(), 0);

    // A modal form, a wait or a print run turns a nested loop: the pings go on.
    QTimer::singleShot(0, this, [] { QTest::qWait(200); });
    QTest::qWait(1);
    QVERIFY(manager.takePings() >= 2);
}

void TestServiceNotifier::statusStaysOneLine()
{
    KioskStatus status;
    status.setScreen(KioskStatus::Screen::KioskScreen, 6);
    // A line break would end the STATUS= field and start a bogus one.
    status.setPrinterState(QStringLiteral("Stampante non disponibile\n(carta esaurita)"));
    status.setServerReachable(false);
    status.addTicketIssued();
    QCOMPARE(status.line(), QStringLiteral("Schermo del totem con 6 servizi; Stampante non "
                                           "disponibile (carta esaurita); server NON "
                                           "raggiungibile; ticket emessi: 1"));
}

QTEST_GUILESS_MAIN(TestServiceNotifier)
#include "test_servicenotifier.moc"
