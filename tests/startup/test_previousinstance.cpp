#include "previousinstance.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace nx7;

class TestPreviousInstance : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void secondCopySeesTheFirst();
    void lockOfAnEndedProcessIsNotStuck();
    void everyUserMeetsTheSameLock();
    void lockFileOfAnotherUserInAStickyFolder();
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

void TestPreviousInstance::everyUserMeetsTheSameLock()
{
    // A per-user temporary folder must not give each user a lock of their own.
    const QByteArray saved = qgetenv("TMPDIR");
    QTemporaryDir own;
    qputenv("TMPDIR", QFile::encodeName(own.path()));
    const QString path = MachineInstanceLock::defaultLockPath();
    if (saved.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
    QVERIFY2(path == QStringLiteral("/run/lock/nx7totem.lock") ||
                 path == QStringLiteral("/tmp/nx7totem.lock"),
             qPrintable(path));

    // The file made by the first copy can be opened by any other user, whatever its umask.
    QTemporaryDir dir;
    const QString made = dir.filePath(QStringLiteral("nx7totem.lock"));
    const mode_t mask = ::umask(077);
    MachineInstanceLock first(made);
    const bool running = first.anotherCopyRunning();
    ::umask(mask);
    QVERIFY(!running);
    QCOMPARE(QFile::permissions(made) & QFile::ReadOther, QFile::ReadOther);
}

void TestPreviousInstance::lockFileOfAnotherUserInAStickyFolder()
{
    // The lock in /tmp was made by another user's copy; this one must still see it.
    // The system refuses an open that may create such a file only with
    // fs.protected_regular on (as Debian sets it), and only root can hand a file over.
    QFile setting(QStringLiteral("/proc/sys/fs/protected_regular"));
    if (::geteuid() != 0 || !setting.open(QIODevice::ReadOnly) ||
        setting.readAll().trimmed().toInt() < 1)
        QSKIP("needs root and fs.protected_regular on");
    QTemporaryDir dir;
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 01777), 0);
    const QString path = dir.filePath(QStringLiteral("nx7totem.lock"));
    {
        QFile made(path);
        QVERIFY(made.open(QIODevice::WriteOnly));
    }
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);

    MachineInstanceLock first(path);
    QVERIFY(!first.anotherCopyRunning());
    MachineInstanceLock second(path);
    QVERIFY(second.anotherCopyRunning());
}

QTEST_GUILESS_MAIN(TestPreviousInstance)
#include "test_previousinstance.moc"
