#include "imageticketprinter.h"
#include "kioskfixture.h"
#include "screenlayout.h"
#include "ticketissue.h"
#include "timedwait.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace nx7;
using nx7::test::KioskFixture;

namespace {

QDateTime at(int day, int hour, int minute, int second)
{
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second));
}

QList<QRect> visibleButtons(const FrontEnd &screen)
{
    QList<QRect> rects;
    for (int n = 1; n <= kSlotCount; ++n) {
        if (screen.bottone(n)->isVisibleTo(&screen))
            rects.append(screen.bottone(n)->geometry());
    }
    return rects;
}

QList<QRect> expectedButtons(int code, int count)
{
    QList<QRect> rects;
    const auto layout = ScreenLayout::buttonRects(code, count);
    for (const QRect &twips : layout.value())
        rects.append(Twips::toPixels(twips));
    return rects;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
    int count = 0;
};

const QPoint kParked(Twips::toPixels(1000), Twips::toPixels(23000));

} // namespace

// The screen's data on both backends; what the screen draws and does with it once.
class TestFrontEnd : public test::BackendSuite
{
    Q_OBJECT
public:
    TestFrontEnd()
        : BackendSuite(
              {"moreServicesThanTheLayoutsHold", "sizesBeyondTheScreenAreClamped",
               "titleShownAsStored", "backgroundPicture", "missingBackgroundPictureIsReportedOnce",
               "dateCaptionPlacementAndTicketDate", "weekdayInTheSystemLanguage",
               "escapeClosesAndOtherKeysDoNothing", "buttonsIssueTicketsForTheirSlot",
               "waitingPanel", "nightlyRestartAtTheSecond", "nightlyRestartDuringARealIssue",
               "nightlyRestartEndsALongHold", "paperNoticeCoversNothing"})
    {
    }

private Q_SLOTS:
    void init();
    void slotsFollowTheActiveServicesInTableOrder();
    void formSizeFollowsTheResolution_data();
    void formSizeFollowsTheResolution();
    void onlyTwentyServicesGetSlots();
    void moreServicesThanTheLayoutsHold();
    void sizesBeyondTheScreenAreClamped();
    void noActiveService();
    void unreadableConfigurationLeavesAnEmptyScreen();
    void fontsColoursAndVisibility();
    void fieldsWithoutValues();
    void titleShownAsStored();
    void sizeWithoutValueEndsTheProgram();
    void serviceWithoutNameEndsTheProgram();
    void backgroundPicture();
    void missingBackgroundPictureIsReportedOnce();
    void dateCaptionPlacementAndTicketDate();
    void weekdayInTheSystemLanguage();
    void escapeClosesAndOtherKeysDoNothing();
    void buttonsIssueTicketsForTheirSlot();
    void waitingPanel();
    void nightlyRestartAtTheSecond();
    void nightlyRestartDuringARealIssue();
    void nightlyRestartEndsALongHold();
    void serverDatabaseMissing_data();
    void serverDatabaseMissing();
    void paperNoticeCoversNothing_data();
    void paperNoticeCoversNothing();
};

// The weekday of the date line is in the system's language: Italian here, whatever the
// machine running the tests speaks.
void TestFrontEnd::init()
{
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    BackendSuite::init();
}

void TestFrontEnd::slotsFollowTheActiveServicesInTableOrder()
{
    KioskFixture kiosk(0, 2);
    QVERIFY(kiosk.setActive({3, 5, 8, 11}));
    QVERIFY(kiosk.server(
        QStringLiteral("UPDATE \"Servizi\" SET \"Servizio\" = 'Zeta' WHERE \"ID\" = 3")));
    QVERIFY(kiosk.server(
        QStringLiteral("UPDATE \"Servizi\" SET \"Servizio\" = 'Alfa' WHERE \"ID\" = 5")));
    // Any non-zero number is Yes (a PostgreSQL Yes/No column holds booleans); a Null is No.
    QFETCH_GLOBAL(QString, backend);
    const QString yes = backend == test::ServerBackend::SQLite ? "1" : "TRUE";
    QVERIFY(kiosk.server(
        QStringLiteral("UPDATE \"Servizi\" SET \"ServizioAttivo\" = %1 WHERE \"ID\" = 8")
            .arg(yes)));
    QVERIFY(kiosk.server(
        QStringLiteral("UPDATE \"Servizi\" SET \"ServizioAttivo\" = NULL WHERE \"ID\" = 9")));
    auto screen = kiosk.load();
    QVERIFY(screen);

    QVERIFY(kiosk.shell.messages.isEmpty());
    QCOMPARE(screen->activeServiceCount(), 4);
    // Ascending "ID" on both backends, although PostgreSQL keeps changed rows last.
    QCOMPARE(screen->serviceNames(), QStringList({"Zeta", "Alfa", "Servizio 8", "Servizio 11"}));
    const TicketContext &context = screen->ticketContext();
    QCOMPARE(context.slotServiceId[1].toInt(), 3);
    QCOMPARE(context.slotServiceId[2].toInt(), 5);
    QCOMPARE(context.slotServiceId[4].toInt(), 11);
    for (int n = 1; n <= kSlotCount; ++n)
        QCOMPARE(context.slotNextNumber[n], 100 + n); // every slot, loaded or not
    QCOMPARE(screen->buttonCaption(1), QStringLiteral("Zeta "));
    QCOMPARE(screen->buttonCaption(2), QStringLiteral("Alfa "));
    QCOMPARE(visibleButtons(*screen), expectedButtons(2, 4));
    for (int n = 5; n <= kSlotCount; ++n) {
        QCOMPARE(screen->buttonCaption(n), QStringLiteral("Pulsante %1").arg(n));
        QCOMPARE(screen->bottone(n)->pos(), kParked);
    }
}

void TestFrontEnd::formSizeFollowsTheResolution_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("code");
    QTest::addColumn<QSize>("size");
    QTest::addRow("0") << QVariant(0) << 0 << QSize(1280, 1024);
    QTest::addRow("1") << QVariant(1) << 1 << QSize(1920, 1080);
    QTest::addRow("2") << QVariant(2) << 2 << QSize(1440, 900);
    QTest::addRow("3") << QVariant(3) << 3 << QSize(800, 600);
    // Unknown codes would give a window of no size: 1280 x 1024 instead.
    QTest::addRow("7") << QVariant(7) << 0 << QSize(1280, 1024);
    QTest::addRow("-1") << QVariant(-1) << 0 << QSize(1280, 1024);
    QTest::addRow("null") << QVariant() << 0 << QSize(1280, 1024);
}

void TestFrontEnd::formSizeFollowsTheResolution()
{
    QFETCH(QVariant, stored);
    QFETCH(int, code);
    QFETCH(QSize, size);
    KioskFixture kiosk(6, 1);
    QVERIFY(kiosk.setConfiguration(QStringLiteral("RisoluzioneTotem"), stored));
    auto screen = kiosk.load();
    QVERIFY(screen);
    QCOMPARE(screen->resolutionCode(), code);
    QCOMPARE(screen->size(), size);
    QCOMPARE(visibleButtons(*screen), expectedButtons(code, 6));

    // The window covers the display it is shown on, whatever the window manager does.
    screen->show();
    const QRect display = screen->screen()->geometry();
    QCOMPARE(screen->geometry().center(), display.center());
    QVERIFY(screen->windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(screen->windowTitle(), QStringLiteral("Prendi il tuo Numero qui"));
}

void TestFrontEnd::onlyTwentyServicesGetSlots()
{
    KioskFixture kiosk(20, 0);
    for (int id = 21; id <= 23; ++id)
        QVERIFY(kiosk.server(QStringLiteral("INSERT INTO \"Servizi\" VALUES (?, ?, TRUE, 0)"),
                             {id, QStringLiteral("Extra %1").arg(id)}));
    auto screen = kiosk.load();
    QVERIFY(screen);
    QCOMPARE(screen->activeServiceCount(), 20);
    QCOMPARE(screen->serviceNames().size(), 20);
    QCOMPARE(screen->serviceNames().last(), QStringLiteral("Servizio 20"));
    QCOMPARE(screen->ticketContext().slotServiceId[20].toInt(), 20);
    QCOMPARE(visibleButtons(*screen), expectedButtons(0, 20));
}

// The buttons that fit; the operator who started the kiosk is told, a restart nobody
// attends is not held by a message.
void TestFrontEnd::moreServicesThanTheLayoutsHold()
{
    KioskFixture kiosk(13, 3); // 800 x 600 has layouts up to 12
    for (bool unattended : {false, true}) {
        kiosk.state.unattendedRestart = unattended;
        auto screen = kiosk.load();
        QCOMPARE(visibleButtons(*screen), expectedButtons(3, 12));
        QCOMPARE(screen->buttonCaption(13), QStringLiteral("Pulsante 13"));
        QCOMPARE(kiosk.shell.modalForms.size(), 1);
    }
    QVERIFY(kiosk.shell.modalForms.first().lines.first().contains(
        QStringLiteral("13, lo schermo 800 × 600")));
}

// Logged with the field named; a size that fits stays as stored (fontsColoursAndVisibility).
void TestFrontEnd::sizesBeyondTheScreenAreClamped()
{
    for (const QString &field :
         {QStringLiteral("FontSizeTitolo"), QStringLiteral("FontSizeData")}) {
        KioskFixture kiosk(4, 3);
        QVERIFY(kiosk.setConfiguration(field, 10000));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(u'"' + field + "\" 10000 does not fit"));
        auto screen = kiosk.load();
        const QLabel *label = field.endsWith(u'o') ? screen->titoloTXT() : screen->label1();
        QVERIFY(screen->rect().contains(label->geometry()));
    }
}

void TestFrontEnd::noActiveService()
{
    KioskFixture kiosk(0, 1);
    QVERIFY(
        kiosk.setConfiguration(QStringLiteral("SfondoTotem"), QStringLiteral("/nessuna/foto.png")));
    auto screen = kiosk.load();
    QVERIFY(screen);
    QCOMPARE(screen->activeServiceCount(), 0);
    QCOMPARE(screen->size(), QSize(1920, 1080));
    QVERIFY(visibleButtons(*screen).isEmpty());
    QCOMPARE(screen->titoloTXT()->text(), QStringLiteral("Scegli il Servizio........."));
    QCOMPARE(screen->label1()->text(), QStringLiteral("data/ora"));
    QVERIFY(kiosk.shell.modalForms.isEmpty()); // no configuration, so no picture either
    screen->Form_Activate();
    QCOMPARE(screen->ticketContext().screenDateText, QStringLiteral("data/ora"));
    QVERIFY(screen->timer1()->isActive());
}

void TestFrontEnd::unreadableConfigurationLeavesAnEmptyScreen()
{
    KioskFixture kiosk(6, 2);
    QVERIFY(kiosk.server(QStringLiteral("DELETE FROM \"configurazioneTotem\"")));
    auto screen = kiosk.load();
    QVERIFY(screen);
    QCOMPARE(screen->activeServiceCount(), 0);
    QVERIFY(visibleButtons(*screen).isEmpty());
    QCOMPARE(screen->label1()->text(), QStringLiteral("data/ora"));
    QVERIFY(kiosk.shell.messages.isEmpty());
    QVERIFY(!kiosk.shell.programEnded());
}

void TestFrontEnd::fontsColoursAndVisibility()
{
    KioskFixture kiosk(5, 0);
    const QList<std::pair<QString, QVariant>> fields{{"FontTitolo", "Liberation Serif"},
                                                     {"FontBoldTItolo", 0},
                                                     {"FontitalicTitolo", -1},
                                                     {"FontSizeTitolo", 28},
                                                     {"FontForecolorTitolo", "255"},
                                                     {"FontData", "DejaVu Sans"},
                                                     {"FontBoldData", -1},
                                                     {"FontitalicData", 0},
                                                     {"FontSizeData", 12.5},
                                                     {"FontForecolorData", "16711680"},
                                                     {"Font", "Liberation Sans"},
                                                     {"FontBold", 0},
                                                     {"Fontitalic", -1},
                                                     {"FontSize", 0},
                                                     {"FontForecolor", "65280"},
                                                     {"TestoVisibile", 0},
                                                     {"DataVisibile", -1}};
    for (const auto &[field, value] : fields)
        QVERIFY(kiosk.setConfiguration(field, value));
    auto screen = kiosk.load();
    QVERIFY(screen);

    const QFont title = screen->titoloTXT()->font();
    QCOMPARE(title.family(), QStringLiteral("Liberation Serif"));
    QVERIFY(!title.bold());
    QVERIFY(title.italic());
    QCOMPARE(title.pointSize(), 28);
    QCOMPARE(screen->titoloTXT()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QVERIFY(!screen->titoloTXT()->isVisibleTo(screen.get()));

    const QFont date = screen->label1()->font();
    QCOMPARE(date.family(), QStringLiteral("DejaVu Sans"));
    QVERIFY(date.bold());
    QVERIFY(!date.italic());
    QCOMPARE(date.pointSize(), 12); // half to even
    QCOMPARE(screen->label1()->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(screen->label1()->isVisibleTo(screen.get()));

    for (int n = 1; n <= 5; ++n) {
        const QPushButton *button = screen->bottone(n);
        QCOMPARE(button->font().family(), QStringLiteral("Liberation Sans"));
        QVERIFY(!button->font().bold());
        QVERIFY(button->font().italic());
        QCOMPARE(button->font().pointSize(), 10); // 0 means 10
        QCOMPARE(button->palette().color(QPalette::ButtonText), QColor(0, 255, 0));
        QCOMPARE(button->palette().color(QPalette::Button), FrontEnd::buttonColour(n));
    }
    // Buttons without a service keep their design look.
    QCOMPARE(screen->bottone(6)->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(screen->bottone(6)->palette().color(QPalette::Button), QColor(198, 214, 236));
}

void TestFrontEnd::fieldsWithoutValues()
{
    KioskFixture kiosk(2, 0);
    for (const char *field : {"TitoloTotem", "FontTitolo", "FontBoldTItolo", "FontForecolorTitolo",
                              "Font", "FontBold", "TestoVisibile", "DataVisibile"})
        QVERIFY(kiosk.setConfiguration(QString::fromLatin1(field), QVariant()));
    QVERIFY(kiosk.setConfiguration(QStringLiteral("FontForecolor"), QString()));
    auto screen = kiosk.load();
    QVERIFY(screen);
    QCOMPARE(screen->titoloTXT()->text(), QString());
    QCOMPARE(screen->titoloTXT()->font().family(), QStringLiteral("Arial"));
    QVERIFY(!screen->titoloTXT()->font().bold());
    QCOMPARE(screen->titoloTXT()->palette().color(QPalette::WindowText), QColor(Qt::black));
    QVERIFY(!screen->titoloTXT()->isVisibleTo(screen.get()));
    QVERIFY(!screen->label1()->isVisibleTo(screen.get()));
    QCOMPARE(screen->bottone(1)->font().family(), QStringLiteral("Arial"));
    QVERIFY(!screen->bottone(1)->font().bold());
    QCOMPARE(screen->bottone(2)->palette().color(QPalette::ButtonText), QColor(Qt::black));
}

void TestFrontEnd::titleShownAsStored()
{
    KioskFixture kiosk(2, 0);
    const QString title = QStringLiteral("<b>Uffici</b> & <i>Servizi</i>");
    QVERIFY(kiosk.setConfiguration(QStringLiteral("TitoloTotem"), title));
    auto screen = kiosk.load();
    QVERIFY(screen);
    QCOMPARE(screen->titoloTXT()->text(), title);
    // Drawn as the characters it holds, tags included.
    QLabel alike;
    alike.setTextFormat(Qt::PlainText);
    alike.setFont(screen->titoloTXT()->font());
    alike.setText(title);
    QCOMPARE(screen->titoloTXT()->size(), alike.sizeHint());
}

void TestFrontEnd::sizeWithoutValueEndsTheProgram()
{
    KioskFixture kiosk(3, 0);
    QVERIFY(kiosk.setConfiguration(QStringLiteral("FontSize"), QVariant()));
    QVERIFY(!kiosk.load());
    QCOMPARE(kiosk.shell.messages.size(), 1);
    QVERIFY(
        kiosk.shell.messages.first().text.startsWith(QStringLiteral("Errore di run-time '94':")));
    QVERIFY(kiosk.shell.programEnded());

    KioskFixture colour(3, 0);
    QVERIFY(colour.ready());
    QVERIFY(colour.setConfiguration(QStringLiteral("FontForecolorData"), QStringLiteral("blu")));
    QVERIFY(!colour.load());
    QVERIFY(
        colour.shell.messages.value(0).text.startsWith(QStringLiteral("Errore di run-time '13':")));
}

void TestFrontEnd::serviceWithoutNameEndsTheProgram()
{
    KioskFixture kiosk(3, 0);
    QVERIFY(kiosk.server(
        QStringLiteral("UPDATE \"Servizi\" SET \"Servizio\" = NULL WHERE \"ID\" = 2")));
    QVERIFY(!kiosk.load());
    QVERIFY(
        kiosk.shell.messages.value(0).text.startsWith(QStringLiteral("Errore di run-time '94':")));
    QVERIFY(kiosk.shell.programEnded());
}

void TestFrontEnd::backgroundPicture()
{
    KioskFixture kiosk(6, 0);
    QTemporaryDir dir;
    QImage picture(100, 50, QImage::Format_RGB32);
    picture.fill(QColor(200, 0, 0));
    const QString path = dir.filePath(QStringLiteral("sfondo.png"));
    QVERIFY(picture.save(path));
    QVERIFY(kiosk.setConfiguration(QStringLiteral("SfondoTotem"), path));
    QVERIFY(kiosk.setConfiguration(QStringLiteral("TestoVisibile"), 0));
    auto screen = kiosk.load();
    QVERIFY(screen);
    QVERIFY(kiosk.shell.modalForms.isEmpty());
    QCOMPARE(screen->backgroundPicture().size(), QSize(100, 50));
    screen->show();
    const QImage shot = screen->grab().toImage();
    QCOMPARE(shot.pixelColor(10, 10), QColor(200, 0, 0)); // natural size, top-left
    QCOMPARE(shot.pixelColor(99, 49), QColor(200, 0, 0));
    QCOMPARE(shot.pixelColor(150, 100), FrontEnd::screenColour());

    // An empty path: no picture and no message.
    KioskFixture empty(6, 0);
    QVERIFY(empty.ready());
    QVERIFY(empty.setConfiguration(QStringLiteral("SfondoTotem"), QString()));
    auto plain = empty.load();
    QVERIFY(plain);
    QVERIFY(plain->backgroundPicture().isNull());
    QVERIFY(empty.shell.modalForms.isEmpty());
}

void TestFrontEnd::missingBackgroundPictureIsReportedOnce()
{
    for (const QString &bad :
         {QStringLiteral("/non/esiste/sfondo.jpg"), QStringLiteral("percorsiT.txt")}) {
        KioskFixture kiosk(4, 2);
        QVERIFY(
            kiosk.setConfiguration(QStringLiteral("SfondoTotem"), bad)); // missing; not a picture
        auto screen = kiosk.load();
        QVERIFY(screen);
        QCOMPARE(kiosk.shell.modalForms.size(), 1);
        QCOMPARE(kiosk.shell.modalForms.first().objectName, QStringLiteral("MsgForm"));
        // Each named by its cause.
        const QStringList lines = bad.startsWith(u'/')
                                      ? QStringList({"Immagine di sfondo non trovata !",
                                                     "Controllare il percorso e che la cartella",
                                                     "di provenienza risulti condivisa"})
                                      : QStringList({"Immagine di sfondo danneggiata !",
                                                     "Il file non è un'immagine leggibile:",
                                                     "sostituirlo con un'immagine valida"});
        QCOMPARE(kiosk.shell.modalForms.first().lines, lines);
        // The screen comes up all the same.
        QVERIFY(screen->backgroundPicture().isNull());
        QCOMPARE(screen->titoloTXT()->text(), QStringLiteral("Scegli il Servizio"));
        QCOMPARE(visibleButtons(*screen), expectedButtons(2, 4));
        QCOMPARE(screen->buttonCaption(4), QStringLiteral("Servizio 4 "));

        // The load of the nightly restart, in the same run: nobody is there to close a
        // message, so the screen comes up at once without the picture.
        screen.reset();
        kiosk.state.restartRequested = false;
        auto nightly = kiosk.load();
        QVERIFY(nightly);
        QCOMPARE(kiosk.shell.modalForms.size(), 1);
        QVERIFY(nightly->backgroundPicture().isNull());
        QCOMPARE(visibleButtons(*nightly), expectedButtons(2, 4));
    }
}

void TestFrontEnd::dateCaptionPlacementAndTicketDate()
{
    for (int code : {3, 1}) {
        KioskFixture kiosk(6, code);
        QVERIFY(kiosk.setConfiguration(QStringLiteral("FontData"), QStringLiteral("DejaVu Sans")));
        QVERIFY(kiosk.setConfiguration(QStringLiteral("FontSizeData"), 20));
        QVERIFY(kiosk.setConfiguration(QStringLiteral("FontBoldData"), -1));
        auto screen = kiosk.load();
        QVERIFY(screen);
        const QString caption = QStringLiteral("martedì 08/12/2026");
        QCOMPARE(screen->label1()->text(), caption);

        // Right edge 240 twips short of the reference width, measured with the date font,
        // so that a date font larger than the design one still shows the whole date.
        QLabel alike(caption);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSize(20);
        font.setBold(true);
        alike.setFont(font);
        alike.adjustSize();
        QCOMPARE(screen->label1()->width(), alike.width());
        const int reference = Resolutions::byCode(code)->referenceWidth;
        QCOMPARE(screen->label1()->x(),
                 Twips::toPixels(dateLabelLeft(reference, Twips::fromPixels(alike.width()))));
        QCOMPARE(screen->label1()->y(), Twips::toPixels(120));
        QVERIFY(screen->label1()->geometry().right() < Twips::toPixels(reference));

        screen->Form_Activate();
        QCOMPARE(screen->ticketContext().screenDateText, QStringLiteral("08/12/2026"));
        // After midnight tickets still carry the day the screen was loaded.
        kiosk.clock.set(at(9, 0, 10, 0));
        screen->Form_Activate();
        QCOMPARE(screen->ticketContext().screenDateText, QStringLiteral("08/12/2026"));
    }
}

void TestFrontEnd::weekdayInTheSystemLanguage()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    KioskFixture kiosk(3, 0);
    auto screen = kiosk.load();
    QVERIFY(screen);
    QCOMPARE(screen->label1()->text(), QStringLiteral("Tuesday 08/12/2026"));
    screen->Form_Activate();
    QCOMPARE(screen->ticketContext().screenDateText, QStringLiteral("08/12/2026"));
}

void TestFrontEnd::escapeClosesAndOtherKeysDoNothing()
{
    KioskFixture kiosk(3, 3);
    auto screen = kiosk.load();
    QVERIFY(screen);
    QSignalSpy finished(screen.get(), &QDialog::finished);
    screen->show();
    QVERIFY(QTest::qWaitForWindowActive(screen.get()));
    screen->bottone(2)->setFocus();
    QTest::keyClick(screen->bottone(2), Qt::Key_Return);
    QTest::keyClick(screen->bottone(2), Qt::Key_A);
    QVERIFY(screen->isVisible());
    QVERIFY(kiosk.issuer.issuedSlots.isEmpty());

    // The hidden restart button is out of the keyboard's reach.
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != screen->pushButton1());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    }
    QVERIFY(!kiosk.state.restartRequested);
    QVERIFY(screen->isVisible());

    kiosk.state.restartRequested = false;
    kiosk.state.unattendedRestart = true; // from an earlier night: Escape leaves it alone
    QTest::keyClick(screen->bottone(2), Qt::Key_Escape, Qt::ShiftModifier);
    QVERIFY(!screen->isVisible());
    QCOMPARE(finished.size(), 1);
    QVERIFY(!kiosk.state.restartRequested);
    QVERIFY(kiosk.state.unattendedRestart);
}

void TestFrontEnd::buttonsIssueTicketsForTheirSlot()
{
    KioskFixture kiosk(6, 0);
    auto screen = kiosk.load();
    QVERIFY(screen);
    screen->show();
    QTest::mouseClick(screen->bottone(3), Qt::LeftButton);
    QTest::mouseClick(screen->bottone(6), Qt::LeftButton);
    QCOMPARE(kiosk.issuer.issuedSlots, QList<int>({3, 6}));
}

void TestFrontEnd::waitingPanel()
{
    KioskFixture kiosk(6, 0);
    auto screen = kiosk.load();
    QVERIFY(screen);
    screen->show();
    QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
    QLabel *panel = screen->waitingPanel();
    QVERIFY(!panel->isVisible());
    // The issue goes straight on to its database work without returning to the event
    // loop: the panel must be painted before showWaitingPanel returns.
    PaintCounter painted(panel);
    screen->showWaitingPanel();
    QVERIFY(painted.count > 0);
    screen->setScreenEnabled(false);
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->text(), QStringLiteral("Attendere, emissione ticket in corso ........."));
    // ((19200 - 7800) / 2, (15360 - 1450) / 2) twips
    QCOMPARE(panel->pos(), QPoint(380, 464));
    QCOMPARE(panel->size(), QSize(520, 97));
    QVERIFY(!screen->isEnabled());
    QVERIFY(!screen->bottone(1)->isEnabled());
    screen->hideWaitingPanel();
    screen->setScreenEnabled(true);
    QVERIFY(!panel->isVisible());
    QVERIFY(screen->bottone(1)->isEnabled());
    QCOMPARE(screen->screenWindow(), screen.get());
}

void TestFrontEnd::nightlyRestartAtTheSecond()
{
    KioskFixture kiosk(6, 0);
    kiosk.clock.set(at(8, 3, 30, 0));
    auto screen = kiosk.load();
    QVERIFY(screen);
    screen->timer1()->stop(); // the test moves the time
    QCOMPARE(screen->timer1()->interval(), 1000);
    QSignalSpy finished(screen.get(), &QDialog::finished);
    screen->show();

    kiosk.clock.set(at(8, 3, 30, 59));
    screen->Timer1_Timer();
    QVERIFY(!kiosk.state.restartRequested);
    QVERIFY(screen->isVisible());

    kiosk.clock.set(at(8, 3, 31, 0));
    screen->Timer1_Timer();
    QVERIFY(kiosk.state.restartRequested);
    QVERIFY(kiosk.state.unattendedRestart);
    QVERIFY(!screen->isVisible());
    QCOMPARE(finished.size(), 1);

    // The hidden button does the same.
    KioskFixture button(6, 0);
    QVERIFY(button.ready());
    auto other = button.load();
    QVERIFY(other);
    other->show();
    QVERIFY(other->pushButton1()->geometry().bottom() < 0); // off the screen
    other->pushButton1()->click();
    QVERIFY(button.state.restartRequested);
    QVERIFY(!other->isVisible());
}

// A post-ticket wait during which the clock passes 03:31:00 and the screen's timer ticks.
class TickingWaiter final : public Waiter
{
public:
    void wait(qint32 seconds) override
    {
        waited.append(seconds);
        for (int tick = 0; tick < 3; ++tick) {
            clock->set(at(8, 3, 30, 59).addSecs(tick));
            screen->Timer1_Timer();
            closedDuringWait = closedDuringWait || !screen->isVisible();
            restartDuringWait = restartDuringWait || state->restartRequested;
        }
    }

    test::TestClock *clock = nullptr;
    FrontEnd *screen = nullptr;
    StationState *state = nullptr;
    QList<qint32> waited;
    bool closedDuringWait = false;
    bool restartDuringWait = false;
};

void TestFrontEnd::nightlyRestartDuringARealIssue()
{
    KioskFixture kiosk(6, 0);
    QVERIFY(QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../report/Ticket.lbl"),
                        QStringLiteral("Ticket.lbl")));
    kiosk.state.waitMessageEnabled = true;
    kiosk.state.waitSeconds = 4;
    kiosk.clock.set(at(8, 3, 30, 50));
    TickingWaiter waiter;
    test::ImageTicketPrinter printer;
    TicketIssue issue(kiosk.installation.stores(), kiosk.state, kiosk.shell, kiosk.clock, waiter,
                      printer);
    FrontEnd screen(kiosk.parts(issue));
    waiter.clock = &kiosk.clock;
    waiter.screen = &screen;
    waiter.state = &kiosk.state;
    QVERIFY(screen.Form_Load());
    screen.timer1()->stop(); // the test moves the time
    screen.show();

    QTest::mouseClick(screen.bottone(2), Qt::LeftButton);
    QCOMPARE(waiter.waited, QList<qint32>({4}));
    QVERIFY(!waiter.closedDuringWait);
    QVERIFY(!waiter.restartDuringWait);
    // The ticket went all the way: recorded, printed, the screen given back.
    QCOMPARE(printer.targets.size(), 1);
    auto db = Database::open(kiosk.installation.serverDatabase());
    QVERIFY(db);
    auto queue = db->select(QStringLiteral("SELECT \"NrDaChiamare\" FROM \"Codafromtotem\""));
    QVERIFY(queue);
    QCOMPARE(queue->size(), 1);
    QCOMPARE(queue->first().first().toInt(), 102);
    QVERIFY(!screen.waitingPanel()->isVisible());
    QVERIFY(screen.isEnabled());
    QVERIFY(screen.isVisible());

    // The next tick carries the restart out.
    kiosk.clock.set(at(8, 3, 31, 2));
    screen.Timer1_Timer();
    QVERIFY(kiosk.state.restartRequested);
    QVERIFY(kiosk.state.unattendedRestart);
    QVERIFY(!screen.isVisible());
}

void TestFrontEnd::nightlyRestartEndsALongHold()
{
    KioskFixture kiosk(6, 0);
    QVERIFY(QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../report/Ticket.lbl"),
                        QStringLiteral("Ticket.lbl")));
    kiosk.state.waitMessageEnabled = true;
    kiosk.state.waitSeconds = 32767; // accepted by the settings form: nine hours
    kiosk.clock.set(at(8, 3, 30, 59));
    EventLoopWaiter waiter;
    test::ImageTicketPrinter printer;
    TicketIssue issue(kiosk.installation.stores(), kiosk.state, kiosk.shell, kiosk.clock, waiter,
                      printer);
    FrontEnd screen(kiosk.parts(issue));
    QVERIFY(screen.Form_Load());
    screen.show();
    // The clock passes 03:31:00 while the ticket holds the screen; the timer ticks on.
    QTimer::singleShot(100, [&] { kiosk.clock.set(at(8, 3, 31, 0)); });
    screen.timer1()->setInterval(20);
    QTest::mouseClick(screen.bottone(2), Qt::LeftButton); // returns when the hold ends
    QCOMPARE(printer.targets.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(kiosk.state.restartRequested, 3000);
    QVERIFY(!screen.isVisible());
}

void TestFrontEnd::serverDatabaseMissing_data()
{
    QTest::addColumn<bool>("folderMissing");
    QTest::addRow("file") << false;
    QTest::addRow("folder") << true;
}

void TestFrontEnd::serverDatabaseMissing()
{
    QFETCH(bool, folderMissing);
    KioskFixture kiosk(6, 0);
    if (folderMissing) {
        kiosk.state.serverPath = kiosk.installation.serverPath() + QStringLiteral("/sparito");
    } else if (kiosk.installation.isPostgres()) {
        // The database of "NX7PRO.pg" is missing when its server does not answer.
        QFile file(QDir(kiosk.installation.serverPath()).filePath(QStringLiteral("NX7PRO.pg")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("host=127.0.0.1 port=1 dbname=nx7 user=postgres\n");
    } else {
        QVERIFY(QFile::remove(kiosk.installation.serverDatabase()));
    }
    auto screen = kiosk.makeScreen();
    QVERIFY(!screen->Form_Load());
    QCOMPARE(kiosk.shell.modalForms.size(), 1);
    QCOMPARE(kiosk.shell.modalForms.first().objectName, QStringLiteral("ImpoRete"));
    QVERIFY(kiosk.shell.programEnded());
    QVERIFY(!screen->isVisible());
}

void TestFrontEnd::paperNoticeCoversNothing_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("services");
    for (const Resolution &resolution : Resolutions::all())
        for (int services : {3, resolution.maxServices})
            QTest::addRow("%d-%d", resolution.code, services) << resolution.code << services;
}

// Staff see it, but it covers no button, the title or the date.
void TestFrontEnd::paperNoticeCoversNothing()
{
    QFETCH(int, code);
    QFETCH(int, services);
    KioskFixture kiosk(services, code);
    auto screen = kiosk.load();
    screen->show();
    screen->showPrinterState({PrinterState::Condition::PaperNearEnd, {}});
    const QRect notice = screen->paperNotice()->geometry();
    QVERIFY(screen->paperNotice()->isVisible() && screen->rect().contains(notice));
    for (QWidget *other : screen->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        QVERIFY2(other == screen->paperNotice() || !other->isVisible() ||
                     !other->geometry().intersects(notice),
                 qPrintable(other->objectName()));
}

QTEST_MAIN(TestFrontEnd)
#include "test_frontend.moc"
