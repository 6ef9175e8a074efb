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

class TestServiceNotifier : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { ::close(m_fd); }
    void notifyProtocol_data();
    void notifyProtocol();

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
    KioskStatus status; // a line break would end the STATUS= field and start a bogus one
    status.setPrinterState(QStringLiteral("Stampante non disponibile\n(carta esaurita)"));
    const QString line = QStringLiteral("STATUS=Avvio in corso; Stampante non disponibile (carta "
                                        "esaurita); server non verificato; ticket emessi: 0");
    notifier.setStatus(status.line());
    notifier.setStatus(status.line()); // unchanged: not sent again
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

QTEST_GUILESS_MAIN(TestServiceNotifier)
#include "test_servicenotifier.moc"
