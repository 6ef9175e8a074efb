#include "previousinstance.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace nx7;

class TestPreviousInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secondCopySeesTheFirst();
    void lockOfAnEndedProcessIsNotStuck();
};

void TestPreviousInstance::secondCopySeesTheFirst()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nx7totem.lock"));
    auto first = std::make_unique<MachineInstanceLock>(path);
    QVERIFY(!first->anotherCopyRunning());
    QVERIFY(!first->anotherCopyRunning()); // asking again does not see itself
    MachineInstanceLock second(path);
    QVERIFY(second.anotherCopyRunning());
    first.reset();
    QVERIFY(!second.anotherCopyRunning());
}

void TestPreviousInstance::lockOfAnEndedProcessIsNotStuck()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nx7totem.lock"));
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        MachineInstanceLock held(path);
        const bool running = held.anotherCopyRunning();
        const char byte = running ? 'n' : 'y';
        (void)!::write(ready[1], &byte, 1);
        ::sleep(30); // killed by the parent long before
        ::_exit(0);
    }
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    QCOMPARE(byte, 'y');
    MachineInstanceLock mine(path);
    QVERIFY(mine.anotherCopyRunning()); // the other process holds it
    ::kill(child, SIGKILL);             // a crash: no clean-up runs
    ::waitpid(child, nullptr, 0);
    QVERIFY(!mine.anotherCopyRunning());
}

QTEST_GUILESS_MAIN(TestPreviousInstance)
#include "test_previousinstance.moc"
