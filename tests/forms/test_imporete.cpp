#include "imporete.h"
#include "msgform.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "textrecord.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace nx7;

class TestImpoRete : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void showsTheStoredPath();
    void saveWritesTheQuotedPathAndEnds();
    void pathWithCommaSurvivesTheRoundTrip();
    void refusesNoPath_data();
    void refusesNoPath();
    void cancelledBrowserChangesNothing();
    void closeEndsWithoutWriting();
    void closeBoxReturnsToTheCaller();
    void escapeDoesNotLeaveTheForm();
    void pathIsShownAsPlainText();
    void failedSaveKeepsTheFormAndTheOldFile();

private:
    QTemporaryDir *m_dir = nullptr;
    QString m_previous;
    QString pathFile() const { return m_dir->filePath(QStringLiteral("percorsiT.txt")); }
};

void TestImpoRete::init()
{
    m_previous = QDir::currentPath();
    m_dir = new QTemporaryDir;
    QDir::setCurrent(m_dir->path());
}

void TestImpoRete::cleanup()
{
    QDir::setCurrent(m_previous);
    delete m_dir;
}

void TestImpoRete::showsTheStoredPath()
{
    QVERIFY(TextRecord::writeText(pathFile(), QStringLiteral("/srv/totem")));
    test::TestShell shell;
    ImpoRete form(shell);
    QCOMPARE(form.windowTitle(), QStringLiteral("Impostazione Percorso di Rete"));
    form.show();
    QCOMPARE(form.shownPath(), QStringLiteral("/srv/totem"));
}

void TestImpoRete::saveWritesTheQuotedPathAndEnds()
{
    test::TestShell shell;
    shell.folderToChoose = QStringLiteral("/srv/nuovo");
    ImpoRete form(shell);
    form.show(); // no file yet: the label stays empty
    QCOMPARE(form.shownPath(), QString());
    QTest::mouseClick(form.button(1), Qt::LeftButton);
    QCOMPARE(shell.browserTitles, QStringList{QStringLiteral("Selezionare la cartella")});
    QCOMPARE(form.shownPath(), QStringLiteral("/srv/nuovo"));
    QVERIFY(!QFile::exists(pathFile())); // shown, not stored
    QTest::mouseClick(form.button(2), Qt::LeftButton);
    QCOMPARE(test::fileBytes(pathFile()), QByteArray("\"/srv/nuovo\"\r\n"));
    QCOMPARE(shell.modalForms.size(), 1);
    QCOMPARE(shell.modalForms.first().lines.mid(0, 2),
             (QStringList{QStringLiteral("Percorso /Server impostato correttamente !"),
                          QStringLiteral("Riavviare modulo NX7 - Totem !")}));
    QVERIFY(shell.programEnded());
}

void TestImpoRete::pathWithCommaSurvivesTheRoundTrip()
{
    test::TestShell shell;
    shell.folderToChoose = QStringLiteral("/srv/uffici, sede");
    {
        ImpoRete form(shell);
        form.cbt_Click(1);
        form.cbt_Click(2);
    }
    ImpoRete again(shell);
    again.show();
    QCOMPARE(again.shownPath(), QStringLiteral("/srv/uffici, sede"));
}

void TestImpoRete::refusesNoPath_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addRow("placeholder text") << QStringLiteral("Percorso da impostare!");
    QTest::addRow("empty path") << QString();
}

void TestImpoRete::refusesNoPath()
{
    QFETCH(QString, stored);
    if (!stored.isEmpty())
        QVERIFY(TextRecord::writeText(pathFile(), stored));
    const QByteArray before = test::fileBytes(pathFile());
    test::TestShell shell;
    ImpoRete form(shell);
    form.show();
    form.cbt_Click(2);
    QCOMPARE(shell.modalForms.size(), 1);
    QCOMPARE(shell.modalForms.first().lines.first(),
             QStringLiteral("Selezionare un Percorso per gli archivi !"));
    QVERIFY(!shell.programEnded());
    QCOMPARE(test::fileBytes(pathFile()), before);
}

void TestImpoRete::cancelledBrowserChangesNothing()
{
    QVERIFY(TextRecord::writeText(pathFile(), QStringLiteral("/srv/vecchio")));
    test::TestShell shell; // folderToChoose empty: cancelled
    ImpoRete form(shell);
    form.show();
    form.cbt_Click(1);
    QCOMPARE(form.shownPath(), QStringLiteral("/srv/vecchio"));
}

void TestImpoRete::closeEndsWithoutWriting()
{
    test::TestShell shell;
    shell.folderToChoose = QStringLiteral("/srv/x");
    ImpoRete form(shell);
    form.cbt_Click(1);
    QTest::mouseClick(form.button(0), Qt::LeftButton);
    QVERIFY(shell.programEnded());
    QVERIFY(!QFile::exists(pathFile()));
}

void TestImpoRete::closeBoxReturnsToTheCaller()
{
    test::TestShell shell;
    shell.onNextModal([](QDialog &dialog) {
        dialog.show();
        dialog.close();
        return dialog.result();
    });
    ImpoRete::showSetup(shell, nullptr);
    QCOMPARE(shell.modalForms.first().objectName, QStringLiteral("ImpoRete"));
    QVERIFY(!shell.programEnded());
    QVERIFY(!QFile::exists(pathFile()));
}

void TestImpoRete::escapeDoesNotLeaveTheForm()
{
    test::TestShell shell;
    bool stillOpen = false;
    shell.onNextModal([&](QDialog &dialog) {
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        stillOpen = dialog.isVisible();
        dialog.close();
        return dialog.result();
    });
    ImpoRete::showSetup(shell, nullptr);
    QVERIFY(stillOpen);
    QVERIFY(!shell.programEnded());
}

void TestImpoRete::pathIsShownAsPlainText()
{
    // As markup this folder name would show as two paragraphs without its tags.
    const QString folder = QStringLiteral("<p>/srv/a</p><p>b</p>");
    QVERIFY(TextRecord::writeText(pathFile(), folder));
    test::TestShell shell;
    ImpoRete form(shell);
    form.show();
    QCOMPARE(form.shownPath(), folder);
    auto *label = form.findChild<QLabel *>(QStringLiteral("txtshortcutdir"));
    QVERIFY(label);
    const QFontMetrics metrics(label->font());
    QVERIFY(label->sizeHint().width() > metrics.horizontalAdvance(folder));
    QVERIFY(label->sizeHint().height() < 2 * metrics.lineSpacing());
}

void TestImpoRete::failedSaveKeepsTheFormAndTheOldFile()
{
    // A folder where the file should be makes the save fail, for root too.
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("percorsiT.txt")));
    test::TestShell shell;
    shell.folderToChoose = QStringLiteral("/srv/nuovo");
    ImpoRete form(shell);
    form.show();
    form.cbt_Click(1);
    form.cbt_Click(2);
    QVERIFY(!shell.programEnded());
    QCOMPARE(shell.modalForms.size(), 1);
    QVERIFY(shell.modalForms.first().lines.first().contains(QStringLiteral("Impossibile salvare")));
    QVERIFY(QFileInfo(pathFile()).isDir());
    QCOMPARE(form.shownPath(), QStringLiteral("/srv/nuovo"));
}

QTEST_MAIN(TestImpoRete)
#include "test_imporete.moc"
