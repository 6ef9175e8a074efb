#include "lamain.h"
#include "msgform.h"
#include "numberingday.h"
#include "numberingjournal.h"
#include "previousinstance.h"
#include "stationdata.h"
#include "stationfixture.h"
#include "testshell.h"
#include "textrecord.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace nx7;
using namespace nx7::test;

namespace {

class FakeInstance final : public PreviousInstance
{
public:
    bool running = false;
    int asked = 0;
    bool anotherCopyRunning() override
    {
        ++asked;
        return running;
    }
};

// One station with its server, the test desktop and the start-up window on them.
struct Kiosk : StationFixture
{
    FakeInstance instance;
    std::unique_ptr<LaMain> form;

    LaMain &start()
    {
        form = std::make_unique<LaMain>(installation.stores(), state, shell, instance, clock,
                                        [](QWidget *parent) {
                                            auto screen = std::make_unique<QDialog>(parent);
                                            screen->setObjectName(QStringLiteral("FrontEnd"));
                                            return screen;
                                        });
        form->Form_Load();
        return *form;
    }
    LaMain &startShown()
    {
        start();
        showAndActivate(*form);
        return *form;
    }
    int shown(const QString &name) const
    {
        return int(std::count_if(shell.modalForms.begin(), shell.modalForms.end(),
                                 [&](const auto &f) { return f.objectName == name; }));
    }
    QStringList lastMessageForm() const
    {
        return shell.modalForms.isEmpty() ? QStringList() : shell.modalForms.last().lines;
    }
    QList<QByteArray> numberingFiles() const
    {
        QList<QByteArray> files;
        for (int slot = 1; slot <= 20; ++slot)
            files.append(fileBytes(installation.numberingFile(slot)));
        return files;
    }
};

const QString kPathMessage =
    QStringLiteral("Percorso Server non impostato o Server non raggiungibile !");

} // namespace

class TestLaMain : public test::BackendSuite
{
    Q_OBJECT
public:
    TestLaMain()
        : BackendSuite({"windowContent", "pathProblemsLeadToSetup",
                        "copyHeldAtTheSetupFormBlocksASecondCopy", "otherPathErrorsStopSilently",
                        "secondCopyEnds", "settingsTables", "oldAccessLocalDatabaseIsRefused",
                        "secondsEditTakesDigitsOnly", "saveRoundTripsThroughANewStart",
                        "saveRefusesWhatTheFieldCannotHold", "saveReportsMissingStore",
                        "invalidServerPath", "chiudiEndsTheProgram"})
    {
    }

private Q_SLOTS:
    void windowContent();
    void normalStartLoadsSettings_data();
    void normalStartLoadsSettings();
    void pathProblemsLeadToSetup_data();
    void pathProblemsLeadToSetup();
    void copyHeldAtTheSetupFormBlocksASecondCopy();
    void otherPathErrorsStopSilently_data();
    void otherPathErrorsStopSilently();
    void secondCopyEnds();
    void settingsTables_data();
    void settingsTables();
    void oldAccessLocalDatabaseIsRefused();
    void secondsEditTakesDigitsOnly();
    void saveRoundTripsThroughANewStart();
    void saveRefusesWhatTheFieldCannotHold();
    void saveReportsMissingStore();
    void attendedInitialStart();
    void currentStartTouchesNothing();
    void nightlyRestartRunsFromTheEventLoop();
    void startNobodyAskedFor_data();
    void startNobodyAskedFor();
    void invalidServerPath_data();
    void invalidServerPath();
    void serverDatabaseNotOpened_data();
    void serverDatabaseNotOpened();
    void fewerThanTwentyServices();
    void unwritableNumberingFileChangesNothing();
    void failureMessagesFitTheMessageForm_data();
    void failureMessagesFitTheMessageForm();
    void chiudiEndsTheProgram();
};

void TestLaMain::windowContent()
{
    Kiosk k;
    LaMain &w = k.start();
    QCOMPARE(w.windowTitle(), QStringLiteral("NX7 Totem versione PRO"));
    QCOMPARE(w.font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(w.button(0)->text(), QStringLiteral("C&hiudi"));
    QCOMPARE(w.button(1)->text(), QStringLiteral("C&onferma"));
    QCOMPARE(w.button(2)->text(), QStringLiteral("&Memorizza scelte"));
    QCOMPARE(w.radioButton(0)->text(), QStringLiteral(" Carica la Numerazione Iniziale"));
    QCOMPARE(w.radioButton(1)->text(), QStringLiteral(" Carica la Numerazione Corrente"));
    QVERIFY(w.radioButton(0)->isChecked());
    QCOMPARE(w.attesaSiNo()->text(), QStringLiteral(" Messaggio attesa"));
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("Label3"))->text(), QStringLiteral("secondi"));
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("Label1"))->text(),
             QStringLiteral("Versione " NX7_VERSION));
    auto *pro = w.findChild<QLabel *>(QStringLiteral("Label2"));
    QCOMPARE(pro->text(), QStringLiteral("PRO"));
    QCOMPARE(pro->font().family(), QStringLiteral("Comic Sans MS"));
    QVERIFY(!w.findChild<QLabel *>(QStringLiteral("Image2"))->pixmap().isNull());
    // The controls sit in their groups, inside the window.
    QCOMPARE(w.attesaSiNo()->parent()->objectName(), QStringLiteral("GroupBox2"));
    QCOMPARE(w.button(2)->parent()->objectName(), QStringLiteral("GroupBox2"));
    QCOMPARE(w.radioButton(1)->parent()->objectName(), QStringLiteral("GroupBox1"));
    for (QWidget *child : w.findChildren<QWidget *>())
        QVERIFY(w.rect().contains(child->mapTo(&w, child->rect().bottomRight())));
}

void TestLaMain::normalStartLoadsSettings_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("used");
    QTest::newRow("twelve seconds") << 12 << 12;
    QTest::newRow("years, from an older kiosk") << 99999999 << 60;
}

void TestLaMain::normalStartLoadsSettings()
{
    QFETCH(int, stored);
    QFETCH(int, used);
    Kiosk k;
    QVERIFY(run(k.installation.localDatabase(),
                QStringLiteral("UPDATE ConfigurazioneTotem SET AttesaSN = -1, AttesaSecondi = %1")
                    .arg(stored)));
    LaMain &w = k.start();
    QVERIFY(k.shell.messages.isEmpty());
    QVERIFY(k.shell.modalForms.isEmpty());
    QCOMPARE(k.instance.asked, 1);
    QCOMPARE(k.state.serverPath, k.installation.serverPath());
    QVERIFY(w.attesaSiNo()->isChecked());
    QCOMPARE(w.messaggioSecondi()->text(), QString::number(used));
    QVERIFY(k.state.waitMessageEnabled);
    QCOMPARE(k.state.waitSeconds, used);
}

void TestLaMain::pathProblemsLeadToSetup_data()
{
    // "-": no file; "*": the server path + suffix; "/dir": a folder; "/000": no permission
    QTest::addColumn<QByteArray>("pathFile");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("secondCopy");
    QTest::addRow("no path file, second copy") << QByteArray("-") << QString() << true;
    QTest::addRow("empty path file") << QByteArray("") << QString() << true;
    QTest::addRow("empty quoted path") << QByteArray("\"\"\r\n") << QString() << false;
    QTest::addRow("the root as path") << QByteArray("\"/\"\r\n") << QString() << false;
    QTest::addRow("the root, spelt long") << QByteArray("//.\r\n") << QString() << true;
    QTest::addRow("path file is a folder") << QByteArray("/dir") << QString() << false;
    QTest::addRow("path file unreadable") << QByteArray("/000") << QString() << false;
    QTest::addRow("server folder missing")
        << QByteArray("*") << QStringLiteral("/assente") << false;
    QTest::addRow("no FraseTTS.txt") << QByteArray("*") << QString() << false;
}

void TestLaMain::pathProblemsLeadToSetup()
{
    QFETCH(QByteArray, pathFile);
    QFETCH(QString, suffix);
    QFETCH(bool, secondCopy);
    Kiosk k;
    k.instance.running = secondCopy;
    if (pathFile == "/000" && ::geteuid() == 0)
        QSKIP("root reads a file whatever its permissions");
    if (pathFile == "-" || pathFile == "/dir")
        QVERIFY(QFile::remove(QStringLiteral("percorsiT.txt")));
    if (pathFile == "/dir")
        QVERIFY(QDir().mkdir(QStringLiteral("percorsiT.txt")));
    else if (pathFile == "/000") // the path itself is good: only its file cannot be read
        QVERIFY(QFile::setPermissions(QStringLiteral("percorsiT.txt"), {}));
    else if (pathFile == "*")
        QVERIFY(TextRecord::writeText(QStringLiteral("percorsiT.txt"),
                                      k.installation.serverPath() + suffix));
    else if (pathFile != "-")
        QVERIFY(TextRecord::writeFileAtomically(QStringLiteral("percorsiT.txt"), pathFile));
    if (pathFile == "*" && suffix.isEmpty())
        QVERIFY(QFile::remove(
            QDir(k.installation.serverPath()).filePath(QStringLiteral("FraseTTS.txt"))));

    LaMain &w = k.start();
    // The path first: a second copy is led to the setup before it is told it is one.
    QCOMPARE(k.shell.messages.size(), secondCopy ? 2 : 1);
    QCOMPARE(k.shell.messages.first().icon, Shell::Icon::Information);
    QCOMPARE(k.shell.messages.first().title, QStringLiteral("NX7Totem-Messaggio"));
    QCOMPARE(k.shell.messages.first().text, kPathMessage);
    QCOMPARE(k.shell.modalForms.size(), 1);
    QCOMPARE(k.shell.modalForms.first().objectName, QStringLiteral("ImpoRete"));
    // When the setup form returns, a second copy is refused all the same.
    if (secondCopy)
        QCOMPARE(k.shell.messages.last().text,
                 QStringLiteral("NX7PRO-Modulo TOTEM risulta già in esecuzione sulla macchina !"));
    QCOMPARE(k.shell.programEnded(), secondCopy);
    QCOMPARE(w.messaggioSecondi()->text(), QString()); // the sequence stopped there
    QCOMPARE(k.instance.asked, 1);                     // claimed at once, even without a path
}

void TestLaMain::copyHeldAtTheSetupFormBlocksASecondCopy()
{
    Kiosk k;
    QVERIFY(QFile::remove(QStringLiteral("percorsiT.txt")));
    const QString lockPath =
        QDir(k.installation.stationPath()).filePath(QStringLiteral("nx7.lock"));
    MachineInstanceLock firstLock(lockPath);
    LaMain first(k.installation.stores(), k.state, k.shell, firstLock, k.clock, {});
    first.Form_Load(); // led to the setup form, which returns: the copy stays open
    QVERIFY(!k.shell.programEnded());

    // The operator writes the path by hand and starts the kiosk again.
    QVERIFY(TextRecord::writeText(QStringLiteral("percorsiT.txt"), k.installation.serverPath()));
    TestShell secondShell;
    StationState secondState;
    MachineInstanceLock secondLock(lockPath);
    LaMain second(k.installation.stores(), secondState, secondShell, secondLock, k.clock, {});
    second.Form_Load();
    QCOMPARE(secondShell.messages.size(), 1);
    QCOMPARE(secondShell.messages.first().text,
             QStringLiteral("NX7PRO-Modulo TOTEM risulta già in esecuzione sulla macchina !"));
    QVERIFY(secondShell.programEnded());
}

void TestLaMain::otherPathErrorsStopSilently_data()
{
    QTest::addColumn<bool>("pathFileIsFolder"); // a folder in its place leads to the setup
    QTest::addRow("FraseTTS.txt is a folder") << false;
}

void TestLaMain::otherPathErrorsStopSilently()
{
    QFETCH(bool, pathFileIsFolder);
    Kiosk k;
    QVERIFY(run(k.installation.localDatabase(),
                QStringLiteral("UPDATE ConfigurazioneTotem SET AttesaSecondi = 12")));
    const QString folder =
        pathFileIsFolder
            ? QStringLiteral("percorsiT.txt")
            : QDir(k.installation.serverPath()).filePath(QStringLiteral("FraseTTS.txt"));
    QVERIFY(QFile::remove(folder));
    QVERIFY(QDir().mkdir(folder));
    LaMain &w = k.start();
    QVERIFY(k.shell.messages.isEmpty());
    QVERIFY(k.shell.modalForms.isEmpty());
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(w.messaggioSecondi()->text(), QString()); // the sequence stopped there
}

void TestLaMain::secondCopyEnds()
{
    Kiosk k;
    k.instance.running = true;
    LaMain &w = k.start();
    QCOMPARE(k.shell.messages.size(), 1);
    QCOMPARE(k.shell.messages.first().icon, Shell::Icon::Critical);
    QCOMPARE(k.shell.messages.first().title, QStringLiteral("ATTENZIONE"));
    QCOMPARE(k.shell.messages.first().text,
             QStringLiteral("NX7PRO-Modulo TOTEM risulta già in esecuzione sulla macchina !"));
    QVERIFY(k.shell.programEnded());
    QVERIFY(k.shell.modalForms.isEmpty());
    QCOMPARE(w.messaggioSecondi()->text(), QString());
}

void TestLaMain::settingsTables_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("row");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("columnsAfter");
    const QString upgraded = QStringLiteral("AttesaSN BOOLEAN,AttesaSecondi SMALLINT");
    QTest::addRow("both fields missing") << "Altro TEXT"
                                         << "'x'" << false << "Altro TEXT," + upgraded;
    QTest::addRow("only AttesaSN") << "AttesaSN BOOLEAN"
                                   << "-1" << true << upgraded;
    QTest::addRow("only AttesaSecondi")
        << "AttesaSecondi SMALLINT"
        << "7" << false << "AttesaSecondi SMALLINT,AttesaSN BOOLEAN";
    QTest::addRow("both Null") << "AttesaSN BOOLEAN, AttesaSecondi SMALLINT"
                               << "NULL, NULL" << false << upgraded;
}

void TestLaMain::settingsTables()
{
    QFETCH(QString, table);
    QFETCH(QString, row);
    QFETCH(bool, ticked);
    QFETCH(QString, columnsAfter);
    Kiosk k;
    const QString db = k.installation.localDatabase();
    QVERIFY(run(db, QStringLiteral("DROP TABLE ConfigurazioneTotem")));
    QVERIFY(run(db, QStringLiteral("CREATE TABLE ConfigurazioneTotem (%1)").arg(table)));
    QVERIFY(run(db, QStringLiteral("INSERT INTO ConfigurazioneTotem VALUES (%1)").arg(row)));

    LaMain &w = k.start();
    QVERIFY(k.shell.messages.isEmpty());
    QCOMPARE(w.attesaSiNo()->isChecked(), ticked);
    QCOMPARE(k.state.waitMessageEnabled, ticked);
    QCOMPARE(w.messaggioSecondi()->text(),
             row == QStringLiteral("7") ? QStringLiteral("7") : QStringLiteral("0"));
    QStringList columns;
    for (const QVariantList &column :
         rows(db, QStringLiteral(
                      "SELECT name || ' ' || type FROM pragma_table_info('ConfigurazioneTotem')")))
        columns.append(column.value(0).toString());
    QCOMPARE(columns.join(u','), columnsAfter);
}

void TestLaMain::oldAccessLocalDatabaseIsRefused()
{
    Kiosk k;
    const QByteArray access =
        QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(200, '\0');
    QVERIFY(QFile::remove(k.installation.localDatabase()));
    QVERIFY(TextRecord::writeFileAtomically(k.installation.localDatabase(), access));
    LaMain &w = k.start();
    QCOMPARE(k.shell.messages.size(), 1);
    QCOMPARE(k.shell.messages.first().icon, Shell::Icon::Critical);
    QVERIFY(k.shell.messages.first().text.contains(QStringLiteral("TotemNX7PRO.mdb")));
    QVERIFY(!k.shell.programEnded());
    QVERIFY(!w.attesaSiNo()->isChecked());
    QCOMPARE(fileBytes(k.installation.localDatabase()), access); // never upgraded nor written
}

void TestLaMain::secondsEditTakesDigitsOnly()
{
    Kiosk k;
    LaMain &w = k.startShown();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QLineEdit *edit = w.messaggioSecondi();
    edit->setText(QStringLiteral("15"));
    w.button(2)->setFocus();
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(3, edit->height() / 2));
    QTRY_COMPARE(edit->selectedText(), QStringLiteral("15")); // the first key replaces it
    QTest::keyClicks(edit, QStringLiteral("a -+,.\t"));
    QCOMPARE(edit->text(), QStringLiteral("15"));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("7x8"));
    QCOMPARE(edit->text(), QStringLiteral("78"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("7"));
    QTest::keyClicks(edit, QStringLiteral("123456"));
    QCOMPARE(edit->text(), QStringLiteral("71234")); // never more than five digits
}

void TestLaMain::saveRoundTripsThroughANewStart()
{
    Kiosk k;
    LaMain &w = k.startShown();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::mouseClick(w.attesaSiNo(), Qt::LeftButton);
    w.messaggioSecondi()->setText(QStringLiteral("5"));
    QTest::keyClick(&w, Qt::Key_M, Qt::AltModifier);
    QTRY_COMPARE(k.state.waitSeconds, 5);
    QVERIFY(k.state.waitMessageEnabled);
    QCOMPARE(rows(k.installation.localDatabase(),
                  QStringLiteral("SELECT AttesaSN, AttesaSecondi FROM ConfigurazioneTotem")),
             (QList<QVariantList>{{-1, 5}}));

    // The next start of the program shows what was saved.
    StationState next;
    FakeInstance instance;
    LaMain reopened(k.installation.stores(), next, k.shell, instance, k.clock, {});
    reopened.Form_Load();
    QVERIFY(reopened.attesaSiNo()->isChecked());
    QCOMPARE(reopened.messaggioSecondi()->text(), QStringLiteral("5"));

    QTest::mouseClick(reopened.attesaSiNo(), Qt::LeftButton);
    reopened.messaggioSecondi()->clear();
    QTest::mouseClick(reopened.button(2), Qt::LeftButton);
    QCOMPARE(reopened.messaggioSecondi()->text(), QStringLiteral("0"));
    QCOMPARE(next.waitSeconds, 0);
    QVERIFY(!next.waitMessageEnabled);
    QCOMPARE(rows(k.installation.localDatabase(),
                  QStringLiteral("SELECT AttesaSN, AttesaSecondi FROM ConfigurazioneTotem")),
             (QList<QVariantList>{{0, 0}}));
}

void TestLaMain::saveRefusesWhatTheFieldCannotHold()
{
    Kiosk k;
    LaMain &w = k.start();
    w.messaggioSecondi()->setText(QStringLiteral("32767"));
    QTest::mouseClick(w.button(2), Qt::LeftButton);
    QCOMPARE(k.shell.messages.size(), 1);
    QVERIFY(k.shell.messages.first().text.contains(QStringLiteral("60 secondi")));
    QCOMPARE(k.state.waitSeconds, 0);
    QCOMPARE(scalar(k.installation.localDatabase(),
                    QStringLiteral("SELECT AttesaSecondi FROM ConfigurazioneTotem")),
             0);

    w.messaggioSecondi()->setText(QStringLiteral("60"));
    QTest::mouseClick(w.button(2), Qt::LeftButton);
    QCOMPARE(k.shell.messages.size(), 1);
    QCOMPARE(k.state.waitSeconds, 60);
    QCOMPARE(scalar(k.installation.localDatabase(),
                    QStringLiteral("SELECT AttesaSecondi FROM ConfigurazioneTotem")),
             60);
}

void TestLaMain::saveReportsMissingStore()
{
    Kiosk k;
    LaMain &w = k.start();
    QVERIFY(run(k.installation.localDatabase(), QStringLiteral("DROP TABLE ConfigurazioneTotem")));
    w.messaggioSecondi()->setText(QStringLiteral("9"));
    QTest::mouseClick(w.button(2), Qt::LeftButton);
    QVERIFY(QFile::remove(k.installation.localDatabase()));
    QTest::mouseClick(w.button(2), Qt::LeftButton);

    QCOMPARE(k.shell.messages.size(), 2);
    QCOMPARE(k.shell.messages.at(0).title, QStringLiteral("ATTENZIONE"));
    QVERIFY(k.shell.messages.at(0).text.contains(QStringLiteral("\"ConfigurazioneTotem\"")));
    QVERIFY(k.shell.messages.at(1).text.contains(QStringLiteral("TotemNX7PRO.mdb")));
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(k.state.waitSeconds, 0);
}

void TestLaMain::attendedInitialStart()
{
    Kiosk k;
    QVERIFY(fillQueueAndWaiting(k.installation));
    QVERIFY(setInitialNumbers(k.installation));
    LaMain &w = k.startShown();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_O, Qt::AltModifier); // initial numbering is the default
    QTRY_COMPARE(k.shown(QStringLiteral("FrontEnd")), 1);

    QCOMPARE(queueLength(k.installation), 0);
    QCOMPARE(waitingCounts(k.installation), QList<int>(20, 0));
    for (int slot = 1; slot <= 20; ++slot) {
        QCOMPARE(fileBytes(k.installation.numberingFile(slot)),
                 QByteArray::number(100 + slot) + "\r\n");
        QCOMPARE(k.state.serviceCounters[slot], 100 + slot);
    }
    QVERIFY(!k.state.unattendedRestart);
    QVERIFY(NumberingDay(k.installation.stores()).resumesWithoutOperator(k.clock.now()));
}

void TestLaMain::currentStartTouchesNothing()
{
    Kiosk k;
    QVERIFY(fillQueueAndWaiting(k.installation));
    QVERIFY(setInitialNumbers(k.installation));
    QVERIFY(run(k.installation.localDatabase(), QStringLiteral("UPDATE Numerazione SET P3 = 42")));
    const QByteArray server = fileBytes(k.installation.serverDatabase());
    const QList<QByteArray> files = k.numberingFiles();

    LaMain &w = k.start();
    QTest::mouseClick(w.radioButton(1), Qt::LeftButton);
    QTest::mouseClick(w.button(1), Qt::LeftButton);
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 1);
    QCOMPARE(k.state.serviceCounters[3], 42);
    QCOMPARE(k.state.serviceCounters[4], 1);
    QCOMPARE(fileBytes(k.installation.serverDatabase()), server);
    QCOMPARE(k.numberingFiles(), files);
}

void TestLaMain::nightlyRestartRunsFromTheEventLoop()
{
    Kiosk k;
    QVERIFY(setInitialNumbers(k.installation));
    LaMain &w = k.startShown();
    QTest::mouseClick(w.radioButton(1), Qt::LeftButton);

    // The day's kiosk screen: tickets are issued, then at night it asks for the restart
    // and closes, in a real modal loop.
    bool inFirstScreen = false;
    k.shell.onNextModal([&](QDialog &screen) {
        inFirstScreen = true;
        QTimer::singleShot(0, &screen, [&] {
            QVERIFY(fillQueueAndWaiting(k.installation));
            QVERIFY(TextRecord::writeInteger(k.installation.numberingFile(1), 77));
            k.state.restartRequested = true;
            k.state.unattendedRestart = true;
            screen.reject();
        });
        const int result = screen.exec();
        inFirstScreen = false;
        return result;
    });
    bool nested = true;
    k.shell.onNextModal([&](QDialog &) {
        nested = inFirstScreen;
        return int(QDialog::Rejected);
    });
    QTest::mouseClick(w.button(1), Qt::LeftButton);
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 1); // not from inside the click
    QTRY_COMPARE(k.shown(QStringLiteral("FrontEnd")), 2);
    QVERIFY(!nested);
    QVERIFY(!k.state.restartRequested);
    QVERIFY(k.state.unattendedRestart);
    QVERIFY(w.radioButton(0)->isChecked());
    QCOMPARE(fileBytes(k.installation.numberingFile(1)), QByteArray("101\r\n"));
    QCOMPARE(k.state.serviceCounters[1], 101);
    QCOMPARE(queueLength(k.installation), 3); // unattended: queue and waiting counts kept
    QCOMPARE(waitingCounts(k.installation), QList<int>(20, 4));

    // Later in the same process the operator's initial start keeps them too.
    QTest::qWait(50);
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 2); // the restart ran once
    QVERIFY(TextRecord::writeInteger(k.installation.numberingFile(1), 77));
    QTest::mouseClick(w.button(1), Qt::LeftButton);
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 3);
    QCOMPARE(fileBytes(k.installation.numberingFile(1)), QByteArray("101\r\n"));
    QCOMPARE(queueLength(k.installation), 3);
    QCOMPARE(waitingCounts(k.installation), QList<int>(20, 4));
}

// What a start finds of the day's numbering decides between serving at once and the
// start-up window; at the window, an initial start that would wipe a running day asks.
void TestLaMain::startNobodyAskedFor_data()
{
    QTest::addColumn<QDateTime>("dayStarted"); // invalid: no numbering ever started
    QTest::addColumn<bool>("endedByOperator");
    QTest::addColumn<bool>("interruptedWrite"); // a power cut left a half-written record
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("resumes");
    const QDateTime morning(QDate(2026, 12, 8), QTime(8, 1));
    const QDateTime noon(QDate(2026, 12, 8), QTime(12, 0));
    QTest::newRow("first start of the day") << QDateTime() << false << false << noon << false;
    QTest::newRow("after C&hiudi") << morning << true << false << noon << false;
    QTest::newRow("after a crash mid-day") << morning << false << false << noon << true;
    QTest::newRow("after a power cut mid-day") << morning << false << true << noon << true;
    QTest::newRow("at night, before the restart")
        << morning << false << false << noon.addDays(1).addSecs(-11 * 3600) << true;
    QTest::newRow("the day after") << morning << false << false << noon.addDays(1) << false;
}

void TestLaMain::startNobodyAskedFor()
{
    QFETCH(QDateTime, dayStarted);
    QFETCH(bool, endedByOperator);
    QFETCH(bool, interruptedWrite);
    QFETCH(QDateTime, now);
    QFETCH(bool, resumes);
    Kiosk k;
    QVERIFY(fillQueueAndWaiting(k.installation));
    QVERIFY(setInitialNumbers(k.installation));
    QVERIFY(run(k.installation.localDatabase(), QStringLiteral("UPDATE Numerazione SET P3 = 42")));
    NumberingDay day(k.installation.stores());
    if (dayStarted.isValid())
        day.numberingStarted(dayStarted, true);
    if (endedByOperator)
        day.endedByOperator();
    if (interruptedWrite)
        QVERIFY(TextRecord::writeFileAtomically(
            k.installation.stores().stationFile(NumberingDay::fileName() +
                                                QStringLiteral(".aB3xYz")),
            "2026-12-0"));
    k.clock.set(now);
    LaMain &w = k.startShown();
    QSignalSpy resumed(&w, &LaMain::numberingResumed);
    QTest::qWait(50);
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), resumes ? 1 : 0);
    QCOMPARE(resumed.size(), resumes ? 1 : 0);
    if (resumes) { // the current numbering, the day's start and the queue kept
        QCOMPARE(k.state.serviceCounters[3], 42);
        QCOMPARE(queueLength(k.installation), 3);
        QCOMPARE(day.startedToday(now), std::optional(dayStarted));
        return;
    }

    const bool dayRunning = day.startedToday(now).has_value();
    QString question;
    k.shell.onNextModal([&](QDialog &dialog) {
        auto *box = qobject_cast<QMessageBox *>(&dialog);
        question = box ? box->text() : QString();
        return box ? int(box->standardButton(box->defaultButton())) : int(QDialog::Rejected);
    });
    QTest::mouseClick(w.button(1), Qt::LeftButton); // initial numbering, as the window opens
    if (!dayRunning) {                              // the morning's start goes ahead at once
        QVERIFY(question.isEmpty());
        QCOMPARE(queueLength(k.installation), 0);
        return;
    }
    QVERIFY2(question.contains(QStringLiteral("già stata avviata alle 08:01")) &&
                 question.contains(QStringLiteral("coda del server viene svuotata")),
             qPrintable(question));
    QCOMPARE(queueLength(k.installation), 3); // "No", the default, wipes nothing
    k.shell.onNextModal([](QDialog &) { return int(QMessageBox::Yes); });
    QTest::mouseClick(w.button(1), Qt::LeftButton);
    QCOMPARE(queueLength(k.installation), 0);
    QCOMPARE(day.startedToday(now), std::optional(now)); // the numbers given again from now
}

void TestLaMain::invalidServerPath_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<QString>("path"); // "*": a folder that is gone
    QTest::addRow("initial") << 0 << true << "*";
    QTest::addRow("current") << 1 << false << "*"; // the screen's own load meets the server
    // A start-up stopped before the path was read: the root of the disk is never tried.
    QTest::addRow("initial, no path") << 0 << true << "";
    QTest::addRow("current, no path") << 1 << false << "";
}

void TestLaMain::invalidServerPath()
{
    QFETCH(int, choice);
    QFETCH(bool, ends);
    QFETCH(QString, path);
    Kiosk k;
    LaMain &w = k.start();
    k.state.serverPath =
        path == "*" ? k.installation.serverPath() + QStringLiteral("/assente") : path;
    QTest::mouseClick(w.radioButton(choice), Qt::LeftButton);
    QTest::mouseClick(w.button(1), Qt::LeftButton);
    QCOMPARE(k.shell.programEnded(), ends);
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), ends ? 0 : 1);
    if (ends)
        QCOMPARE(k.lastMessageForm(),
                 (QStringList{QStringLiteral("Connessione al Server non presente !"),
                              QStringLiteral("Controllare la connessione."), QString()}));
}

void TestLaMain::serverDatabaseNotOpened_data()
{
    QTest::addColumn<QByteArray>("contents"); // empty: the file is missing
    QTest::addColumn<int>("choice");          // the initial or the current numbering
    const QByteArray access =
        QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20) + QByteArray(200, '\0');
    QTest::addRow("database missing") << QByteArray() << 0;
    QTest::addRow("Access file of the old kiosk") << access << 0;
    // Said as the initial start says it, instead of a blank customer screen.
    QTest::addRow("Access file, current numbering") << access << 1;
}

void TestLaMain::serverDatabaseNotOpened()
{
    NX7_ON_BACKEND_ONLY(ServerBackend::SQLite, "the server database is a file on SQLite only");
    QFETCH(QByteArray, contents);
    QFETCH(int, choice);
    Kiosk k;
    LaMain &w = k.start();
    QVERIFY(QFile::remove(k.installation.serverDatabase()));
    if (!contents.isEmpty())
        QVERIFY(TextRecord::writeFileAtomically(k.installation.serverDatabase(), contents));
    const QList<QByteArray> files = k.numberingFiles();
    w.radioButton(choice)->setChecked(true);
    QTest::mouseClick(w.button(1), Qt::LeftButton);

    // Never silence after C&onferma, and nothing written anywhere.
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 0);
    QCOMPARE(k.numberingFiles(), files);
    QCOMPARE(k.shell.modalForms.size(), 0);
    QCOMPARE(k.shell.messages.size(), 1);
    QCOMPARE(k.shell.messages.first().title, QStringLiteral("ATTENZIONE"));
    QVERIFY(k.shell.messages.first().text.contains(QStringLiteral("NX7PRO.mdb")));
    QCOMPARE(fileBytes(k.installation.serverDatabase()), contents);
}

void TestLaMain::fewerThanTwentyServices()
{
    Kiosk k;
    QVERIFY(fillQueueAndWaiting(k.installation));
    QVERIFY(setInitialNumbers(k.installation));
    QVERIFY(run(k.installation.serverDatabase(),
                QStringLiteral("DELETE FROM \"Servizi\" WHERE \"ID\" > 14")));
    LaMain &w = k.start();
    QTest::mouseClick(w.button(1), Qt::LeftButton);
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 1);
    QCOMPARE(waitingCounts(k.installation), QList<int>(14, 0));
    QCOMPARE(fileBytes(k.installation.numberingFile(20)), QByteArray("120\r\n"));
}

void TestLaMain::unwritableNumberingFileChangesNothing()
{
    Kiosk k;
    QVERIFY(fillQueueAndWaiting(k.installation));
    QVERIFY(setInitialNumbers(k.installation));
    QVERIFY(QFile::remove(k.installation.numberingFile(7)));
    QVERIFY(QDir().mkdir(k.installation.numberingFile(7)));
    const QList<QByteArray> files = k.numberingFiles();
    LaMain &w = k.start();
    QTest::mouseClick(w.button(1), Qt::LeftButton);

    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 0);
    QCOMPARE(k.shown(QStringLiteral("MsgForm")), 1);
    QVERIFY(k.lastMessageForm().value(1).contains(QStringLiteral("NrAllS7.txt")));
    QVERIFY(!k.shell.programEnded());
    QCOMPARE(queueLength(k.installation), 3);
    QCOMPARE(waitingCounts(k.installation), QList<int>(20, 4));
    QCOMPARE(k.numberingFiles(), files);
}

void TestLaMain::failureMessagesFitTheMessageForm_data()
{
    QTest::addColumn<QString>("database"); // "local", "server", "access" or "journal"
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("named");
    QTest::addRow("no initial table") << "local"
                                      << "DROP TABLE NumerazioneIniziale"
                                      << "\"NumerazioneIniziale\"";
    QTest::addRow("empty initial table") << "local"
                                         << "DELETE FROM NumerazioneIniziale"
                                         << "\"NumerazioneIniziale\"";
    QTest::addRow("P20 not a number") << "local"
                                      << "UPDATE NumerazioneIniziale SET P20 = 'abc'"
                                      << "\"P20\"";
    QTest::addRow("P20 missing") << "local"
                                 << "ALTER TABLE NumerazioneIniziale DROP COLUMN P20"
                                 << "\"P20\"";
    QTest::addRow("no Attesa") << "server"
                               << "ALTER TABLE \"Servizi\" DROP COLUMN \"Attesa\""
                               << "\"Attesa\"";
    QTest::addRow("no queue") << "server"
                              << "DROP TABLE \"Codafromtotem\""
                              << "\"Codafromtotem\"";
    QTest::addRow("no NrAll") << "server"
                              << ""
                              << "\"NrAll\"";
    QTest::addRow("old Access local database") << "access"
                                               << ""
                                               << "\"TotemNX7PRO.mdb\"";
    // The journal of a start cut off earlier stays while its server is gone: the operator
    // reads why every initial start is refused.
    QTest::addRow("unsettled journal") << "journal"
                                       << ""
                                       << "server non raggiungibile";
}

void TestLaMain::failureMessagesFitTheMessageForm()
{
    QFETCH(QString, database);
    QFETCH(QString, sql);
    QFETCH(QString, named);
    Kiosk k;
    LaMain &w = k.start();
    if (database == QStringLiteral("access")) {
        QVERIFY(QFile::remove(k.installation.localDatabase()));
        QVERIFY(TextRecord::writeFileAtomically(k.installation.localDatabase(),
                                                QByteArray("\x00\x01\x00\x00Standard Jet DB", 19) +
                                                    QByteArray(200, '\0')));
    } else if (database == QStringLiteral("journal")) {
        NumberingJournal journal;
        journal.serverDatabase = QDir(k.installation.serverPath()).filePath("perso/NX7PRO.mdb");
        journal.firstQueuedTicket = {1, QStringLiteral("Anagrafe "), QStringLiteral("09.00.00"), 1};
        journal.files.append({k.installation.numberingFile(1), QByteArray("7\r\n"), 101});
        QVERIFY(journal.write(k.installation.stores()));
    } else if (sql.isEmpty()) {
        QVERIFY(QDir(QDir(k.installation.serverPath()).filePath(QStringLiteral("NrAll")))
                    .removeRecursively());
    } else {
        QVERIFY(run(database == QStringLiteral("local") ? k.installation.localDatabase()
                                                        : k.installation.serverDatabase(),
                    sql));
    }
    QTest::mouseClick(w.button(1), Qt::LeftButton);
    const QStringList lines = k.lastMessageForm();
    QCOMPARE(k.shown(QStringLiteral("MsgForm")), 1);
    QVERIFY2(lines.value(1).contains(named), qPrintable(lines.join(u'|')));

    // What names the missing piece must be readable whole on the form.
    MsgForm form;
    for (int i = 0; i < 3; ++i)
        form.setLine(i, lines.value(i));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int i = 0; i < 3; ++i)
        QVERIFY2(form.lineLabel(i)->sizeHint().width() <= form.lineLabel(i)->width(),
                 qPrintable(lines.value(i)));
}

void TestLaMain::chiudiEndsTheProgram()
{
    Kiosk k;
    LaMain &w = k.startShown();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    NumberingDay(k.installation.stores()).numberingStarted(k.clock.now(), true);
    QTest::keyClick(&w, Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(k.shell.programEnded());
    QVERIFY(!NumberingDay(k.installation.stores()).resumesWithoutOperator(k.clock.now()));
    QVERIFY(!w.isVisible());
    QCOMPARE(k.shown(QStringLiteral("FrontEnd")), 0);
}

QTEST_MAIN(TestLaMain)
#include "test_lamain.moc"
