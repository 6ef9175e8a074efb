#include "filenames.h"
#include "filesizelimit.h"
#include "logtext.h"
#include "numberingfile.h"
#include "sharedfile.h"
#include "tempinstallation.h"
#include "textrecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace nx7;

class TestTextRecord : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void firstField_data();
    void firstField();
    void leadingNumber_data();
    void leadingNumber();
    void decodesWindows1252AndUtf8();
    void writtenRecordsReadBack();
    void readErrorsCarryTheirNumbers();
    void failedWriteKeepsThePreviousFile();
    void fullDiskKeepsThePreviousFile();
    void numberingFileRead_data();
    void numberingFileRead();
    void sharedFileRewrittenInPlaceKeepsOwnerGroupAndMode();
    void sharedFileWaitsForAStationsLockAndThenGivesUp();
    void sharedFileThatWouldBlockNeverHangsTheReader();
    void logTextEscapesControlCharacters();
    void sharedFileOnAFullDiskKeepsItsContentsAndSaysWhyInItalian();
    void serverPathFileRewrittenInPlaceInAReadOnlyFolder();
    void namesMatchWithoutRegardToCase();
    void serverPathWithTrailingSeparator();
};

void TestTextRecord::firstField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    // clang-format off
    QTest::addRow("quoted with CR LF") << "\"\\\\server\\totem\"\r\n" << "\\\\server\\totem";
    QTest::addRow("quoted keeps commas") << "\"/srv/a,b\"\r\n" << "/srv/a,b";
    QTest::addRow("leading blanks skipped") << "   \"/srv/x\"\n" << "/srv/x";
    QTest::addRow("bare path") << "/srv/totem\n" << "/srv/totem";
    QTest::addRow("bare path cut at comma") << "/srv/a,b\r\n" << "/srv/a";
    QTest::addRow("bare trailing blanks dropped") << "  42   \r\n" << "42";
    QTest::addRow("quoted keeps inner blanks") << "\" a b \"\r\n" << " a b ";
    QTest::addRow("only the first line") << "7\r\n9\r\n" << "7";
    QTest::addRow("empty") << "" << "";
    QTest::addRow("unterminated quote ends at line end") << "\"abc\r\ndef" << "abc";
    // clang-format on
}

void TestTextRecord::firstField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(TextRecord::firstField(text), field);
}

void TestTextRecord::leadingNumber_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("error");
    QTest::addRow("plain") << "17" << 17 << 0;
    QTest::addRow("negative") << "-3" << -3 << 0;
    QTest::addRow("digits then text") << "12abc" << 12 << 0;
    QTest::addRow("text") << "abc" << 0 << 0;
    QTest::addRow("empty") << "" << 0 << 0;
    QTest::addRow("maximum") << "2147483647" << 2147483647 << 0;
    QTest::addRow("too large") << "2147483648" << 0 << ErrorNumber::Overflow;
    QTest::addRow("fraction, half to even") << "4.5" << 4 << 0;
    QTest::addRow("fraction rounds up") << "4.75" << 5 << 0;
    QTest::addRow("blanks and quotes already gone") << "  12  " << 12 << 0;
    QTest::addRow("a lone sign") << "-" << 0 << 0;
}

void TestTextRecord::leadingNumber()
{
    QFETCH(QString, field);
    QFETCH(int, number);
    QFETCH(int, error);
    const auto result = TextRecord::leadingNumber(field);
    QCOMPARE(result.errorNumber(), error);
    if (result)
        QCOMPARE(*result, number);
}

void TestTextRecord::decodesWindows1252AndUtf8()
{
    QCOMPARE(TextRecord::decode("\"C:\\Citt\xe0\"\r\n"), QStringLiteral("\"C:\\Città\"\r\n"));
    QCOMPARE(TextRecord::decode("\x80"), QStringLiteral("€"));
    QCOMPARE(TextRecord::decode("Citt\xc3\xa0"), QStringLiteral("Città"));
}

void TestTextRecord::writtenRecordsReadBack()
{
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("percorsiT.txt"));
    QVERIFY(TextRecord::writeText(text, QStringLiteral("/srv/a,b")));
    QCOMPARE(test::fileBytes(text), QByteArray("\"/srv/a,b\"\r\n"));
    QCOMPARE(*TextRecord::readFirstField(text), QStringLiteral("/srv/a,b"));

    const QString number = dir.filePath(QStringLiteral("NrAllS1.txt"));
    QVERIFY(TextRecord::writeInteger(number, -12));
    QCOMPARE(test::fileBytes(number), QByteArray("-12\r\n"));
    QCOMPARE(*TextRecord::leadingNumber(*TextRecord::readFirstField(number)), -12);
}

void TestTextRecord::readErrorsCarryTheirNumbers()
{
    QTemporaryDir dir;
    QCOMPARE(TextRecord::readFile(dir.filePath(QStringLiteral("none.txt"))).errorNumber(),
             ErrorNumber::FileNotFound);
    QCOMPARE(TextRecord::readFile(dir.filePath(QStringLiteral("no/none.txt"))).errorNumber(),
             ErrorNumber::PathNotFound);
    QCOMPARE(TextRecord::writeInteger(dir.filePath(QStringLiteral("no/x.txt")), 1).errorNumber(),
             ErrorNumber::PathNotFound);
}

void TestTextRecord::failedWriteKeepsThePreviousFile()
{
    if (geteuid() == 0)
        QSKIP("root writes into read-only folders");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("percorsiT.txt"));
    QVERIFY(TextRecord::writeText(path, QStringLiteral("/old")));
    // Neither the folder nor the file writable (a writable file is rewritten in place).
    QFile::setPermissions(path, QFile::ReadOwner);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const Status status = TextRecord::writeText(path, QStringLiteral("/new"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!status);
    QCOMPARE(*TextRecord::readFirstField(path), QStringLiteral("/old"));
}

void TestTextRecord::fullDiskKeepsThePreviousFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NrAllS3.txt"));
    QVERIFY(TextRecord::writeInteger(path, 7));
    Status status;
    {
        test::FileSizeLimit fullDisk(16);
        QVERIFY(fullDisk.ok());
        status = TextRecord::writeText(path, QString(200, QLatin1Char('x')));
    }
    QVERIFY(!status);
    QCOMPARE(test::fileBytes(path), QByteArray("7\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no temporary file left
}

void TestTextRecord::numberingFileRead_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<double>("calling");
    QTest::newRow("written by the kiosk") << QByteArray("4\r\n") << 4.0;
    QTest::newRow("in double quotes") << QByteArray("\"4\"\r\n") << 4.0;
    QTest::newRow("followed by blanks") << QByteArray("4   \r\n") << 4.0;
    QTest::newRow("leading blanks") << QByteArray("   17\n") << 17.0;
    QTest::newRow("first field only") << QByteArray("12,99\r\n") << 12.0;
    QTest::newRow("number then text") << QByteArray("8abc\r\n") << 8.0;
    QTest::newRow("negative") << QByteArray("-3\r\n") << -3.0;
    QTest::newRow("non-numeric") << QByteArray("abc\r\n") << 0.0;
    QTest::newRow("empty") << QByteArray() << 0.0;
    QTest::newRow("beyond 32 bits") << QByteArray("3000000000\r\n") << 3000000000.0;
}

void TestTextRecord::numberingFileRead()
{
    QFETCH(QByteArray, contents);
    QFETCH(double, calling);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NrAllS1.txt"));
    QVERIFY(TextRecord::writeFileAtomically(path, contents));
    const auto read = NumberingFile::readCallingNumber(path);
    QVERIFY(read);
    QCOMPARE(*read, calling);
    QCOMPARE(
        NumberingFile::readCallingNumber(dir.filePath(QStringLiteral("none.txt"))).errorNumber(),
        ErrorNumber::FileNotFound);
    QCOMPARE(NumberingFile::readCallingNumber(dir.filePath(QStringLiteral("NrAll/NrAllS1.txt")))
                 .errorNumber(),
             ErrorNumber::PathNotFound);
}

void TestTextRecord::sharedFileRewrittenInPlaceKeepsOwnerGroupAndMode()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NrAllS1.txt"));
    QVERIFY(TextRecord::writeInteger(path, 5)); // missing: made whole, with a station's mode
    const QByteArray name = QFile::encodeName(path);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat made
    {
    };
    QCOMPARE(::stat(name.constData(), &made), 0);
    QCOMPARE(made.st_mode & 0777, 0666 & ~mask); // not a temporary file's private 0600
    // As a counter station's user left it (only root can give a file away).
    const bool root = geteuid() == 0;
    if (root)
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    QCOMPARE(::chmod(name.constData(), 0664), 0);
    struct stat before
    {
    };
    QCOMPARE(::stat(name.constData(), &before), 0);

    QVERIFY(TextRecord::writeInteger(path, 1234567));
    QVERIFY(TextRecord::writeInteger(path, 3)); // shorter: nothing of the old number stays
    struct stat after
    {
    };
    QCOMPARE(::stat(name.constData(), &after), 0);
    QCOMPARE(test::fileBytes(path), QByteArray("3\r\n"));
    QCOMPARE(after.st_ino, before.st_ino); // the same file, not a new one put in its place
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

void TestTextRecord::sharedFileWaitsForAStationsLockAndThenGivesUp()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NrAllS2.txt"));
    QVERIFY(TextRecord::writeInteger(path, 10));
    // A station reading the file holds its lock (another open file, as another process).
    const int station = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    QVERIFY(station >= 0);
    QCOMPARE(::flock(station, LOCK_EX), 0);

    const Status refused = SharedFile::rewrite(path, "99\r\n", 150);
    QCOMPARE(refused.errorNumber(), ErrorNumber::PermissionDenied);
    QVERIFY2(
        refused.error().description.contains(QStringLiteral("bloccato da un'altra postazione")),
        qPrintable(refused.error().description));
    QCOMPARE(test::fileBytes(path), QByteArray("10\r\n"));
    // A reader waits for the same lock as long as it is told, then is told why.
    SharedFile::LockWait readerWait;
    readerWait.limit = std::chrono::milliseconds(150);
    QElapsedTimer waited;
    waited.start();
    const auto unread = SharedFile::read(path, readerWait);
    QVERIFY(waited.elapsed() >= 150);
    QCOMPARE(unread.errorNumber(), ErrorNumber::PermissionDenied);
    QVERIFY(unread.error().description.contains(QStringLiteral("in uso da un'altra postazione")));

    // A lock held for a moment only is waited for.
    std::thread release([station] {
        ::usleep(100 * 1000);
        ::close(station);
    });
    const Status written = SharedFile::rewrite(path, "99\r\n", 3000);
    release.join();
    QVERIFY(written);
    QCOMPARE(test::fileBytes(path), QByteArray("99\r\n"));

    // A station that puts a new file in the place of the one it holds locked: the reader
    // takes the new file, never the old one's number.
    const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    QCOMPARE(::flock(holder, LOCK_EX), 0);
    SharedFile::LockWait patient;
    patient.pauseFor = [&](std::chrono::milliseconds) {
        const QString aside = path + QStringLiteral(".nuovo");
        return TextRecord::writeInteger(aside, 12) &&
               ::rename(QFile::encodeName(aside).constData(), QFile::encodeName(path)) == 0;
    };
    const auto fresh = SharedFile::read(path, patient);
    ::close(holder);
    QCOMPARE(fresh ? *fresh : QByteArray(), QByteArray("12\r\n"));
}

void TestTextRecord::sharedFileThatWouldBlockNeverHangsTheReader()
{
    // A FIFO that nobody writes blocks a plain open() for ever, as a hung share does.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("NrAllS1.txt"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);
    SharedFile::LockWait patient;
    patient.limit = std::chrono::milliseconds(5000);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(NumberingFile::readCallingNumber(fifo, patient).errorNumber(),
             ErrorNumber::PathFileAccess);
    QVERIFY(!SharedFile::rewrite(fifo, "5\r\n", 5000));
    QVERIFY(timer.elapsed() < 1000);

    // A file under another holder's lease blocks a plain open() until the lease is broken.
    const QString leased = dir.filePath(QStringLiteral("NrAllS2.txt"));
    QVERIFY(TextRecord::writeInteger(leased, 7));
    const int holder = ::open(QFile::encodeName(leased).constData(), O_RDONLY);
    std::signal(SIGIO, SIG_IGN); // the holder is told of the break by a signal
    QCOMPARE(::fcntl(holder, F_SETLEASE, F_WRLCK), 0);
    QTimer::singleShot(200, [holder] { ::close(holder); });
    patient.pauseFor = [](std::chrono::milliseconds pause) {
        QTest::qWait(int(pause.count()));
        return true;
    };
    QCOMPARE(NumberingFile::readCallingNumber(leased, patient).value(), 7.0);
}

void TestTextRecord::logTextEscapesControlCharacters()
{
    QCOMPARE(LogText::escaped(QStringLiteral("A\r\nticket 9 issued\x1b[2J\t")),
             QStringLiteral("A\\r\\nticket 9 issued\\x1b[2J\\t"));
}

void TestTextRecord::sharedFileOnAFullDiskKeepsItsContentsAndSaysWhyInItalian()
{
    QTemporaryDir dir;
    const QString numbering = dir.filePath(QStringLiteral("NrAllS4.txt"));
    const QString serverPath = dir.filePath(QStringLiteral("percorsiT.txt"));
    QVERIFY(TextRecord::writeInteger(numbering, 42));
    QVERIFY(TextRecord::writeText(serverPath, QStringLiteral("/srv/a")));
    Status inPlace;
    Status replaced;
    {
        test::FileSizeLimit fullDisk(16);
        QVERIFY(fullDisk.ok());
        inPlace = SharedFile::rewrite(numbering, QByteArray(64, '7'));
        replaced = TextRecord::writeText(serverPath, QString(200, QLatin1Char('x')));
    }
    for (const Status &status : {inPlace, replaced}) {
        QVERIFY(!status);
        QVERIFY2(status.error().description.endsWith(QStringLiteral(": disco pieno")),
                 qPrintable(status.error().description));
    }
    QCOMPARE(test::fileBytes(numbering), QByteArray("42\r\n"));
    QCOMPARE(*TextRecord::readFirstField(serverPath), QStringLiteral("/srv/a"));
}

void TestTextRecord::serverPathFileRewrittenInPlaceInAReadOnlyFolder()
{
    if (geteuid() == 0)
        QSKIP("root writes into read-only folders");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("percorsiT.txt"));
    QVERIFY(TextRecord::writeText(path, QStringLiteral("/old")));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const Status status = TextRecord::writeText(path, QStringLiteral("/new"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY2(status, qPrintable(status.error().description));
    QCOMPARE(*TextRecord::readFirstField(path), QStringLiteral("/new"));
}

void TestTextRecord::namesMatchWithoutRegardToCase()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("nrall")));
    QFile file(dir.filePath(QStringLiteral("nrall/NRALLS7.TXT")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(FilePath::numberingFile(dir.path(), 7),
             dir.filePath(QStringLiteral("nrall/NRALLS7.TXT")));
    // Names not on disk keep the spelling used to create them.
    QCOMPARE(FilePath::numberingFile(dir.path(), 10),
             dir.filePath(QStringLiteral("nrall/NrAllS10.txt")));
    QCOMPARE(FilePath::server(dir.path(), QStringLiteral("NX7PRO.mdb")),
             dir.filePath(QStringLiteral("NX7PRO.mdb")));
}

void TestTextRecord::serverPathWithTrailingSeparator()
{
    QCOMPARE(FilePath::server(QStringLiteral("/nonexistent/srv/"), QStringLiteral("FraseTTS.txt")),
             QStringLiteral("/nonexistent/srv/FraseTTS.txt"));
    QCOMPARE(FilePath::numberingFile(QStringLiteral("/nonexistent/srv"), 20),
             QStringLiteral("/nonexistent/srv/NrAll/NrAllS20.txt"));
}

QTEST_GUILESS_MAIN(TestTextRecord)
#include "test_textrecord.moc"
