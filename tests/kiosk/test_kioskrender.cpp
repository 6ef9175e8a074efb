// Renders the kiosk screen at every resolution for several service counts, as a customer
// would see it. With NX7_SCREENS_DIR set, the pictures are written there as PNG files
// named kiosk-<width>x<height>-<count>.png.
#include "kioskfixture.h"
#include "printerstate.h"
#include "screenlayout.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

using namespace nx7;
using nx7::test::KioskFixture;

namespace {

const QStringList kServiceNames{
    "Anagrafe",   "Stato civile", "Tributi",        "Servizi sociali", "Ufficio tecnico",
    "Protocollo", "Elettorale",   "Polizia locale", "Pagamenti",       "Informazioni",
    "Edilizia",   "Commercio",    "Cultura",        "Scuola",          "Sport",
    "Ambiente",   "Cimiteri",     "Urbanistica",    "Lavori pubblici", "Personale"};

// How far apart two colours are, channel by channel.
int distance(const QColor &a, const QColor &b)
{
    return qMax(qAbs(a.red() - b.red()),
                qMax(qAbs(a.green() - b.green()), qAbs(a.blue() - b.blue())));
}

} // namespace

class TestKioskRender : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy)); }
    void render_data();
    void render();
};

void TestKioskRender::render_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("count");
    for (const Resolution &resolution : Resolutions::all()) {
        for (int count : {1, 3, 6, 9, 12, 17, 20}) {
            if (count > resolution.maxServices)
                continue;
            const QSize size = Twips::toPixels(resolution.rect()).size();
            QTest::addRow("%dx%d-%d", size.width(), size.height(), count)
                << resolution.code << count;
        }
    }
}

void TestKioskRender::render()
{
    QFETCH(int, code);
    QFETCH(int, count);
    KioskFixture kiosk(count, code);
    QVERIFY(kiosk.ready());
    for (int id = 1; id <= count; ++id)
        QVERIFY(kiosk.server(QStringLiteral("UPDATE Servizi SET Servizio = ? WHERE ID = ?"),
                             {kServiceNames.at(id - 1), id}));
    auto screen = kiosk.load();
    QVERIFY(screen);
    screen->show();
    const QImage shot = screen->grab().toImage();
    const QSize display = Twips::toPixels(Resolutions::byCode(code)->rect()).size();
    QCOMPARE(shot.size(), display);

    const QString folder = qEnvironmentVariable("NX7_SCREENS_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        const QString name = QStringLiteral("kiosk-%1x%2-%3.png")
                                 .arg(display.width())
                                 .arg(display.height())
                                 .arg(count);
        QVERIFY(shot.save(QDir(folder).filePath(name)));
    }

    // Each button shows its own colour and lies on the screen; the rest is light yellow.
    for (int n = 1; n <= count; ++n) {
        const QRect rect = screen->bottone(n)->geometry();
        QVERIFY(QRect(QPoint(), display).contains(rect));
        const QColor inside = shot.pixelColor(rect.left() + 4, rect.top() + 4);
        QVERIFY2(distance(inside, FrontEnd::buttonColour(n)) == 0,
                 qPrintable(QStringLiteral("button %1 is %2").arg(n).arg(inside.name())));
    }
    QCOMPARE(shot.pixelColor(2, display.height() - 3), FrontEnd::screenColour());
    // Title and date are shown whole.
    QVERIFY(screen->titoloTXT()->isVisible());
    QVERIFY(screen->label1()->isVisible());
    QVERIFY(QRect(QPoint(), display).contains(screen->label1()->geometry()));
    QVERIFY(QRect(QPoint(), display).contains(screen->titoloTXT()->geometry()));

    // The banner of a kiosk out of service is read whole, whatever its reason: every line
    // fits inside the screen with room at both ends.
    using C = PrinterState::Condition;
    for (C condition : {C::PaperOut, C::CoverOpen, C::Unreachable, C::Failed, C::LayoutUnusable,
                        C::NoDefaultPrinter}) {
        screen->showPrinterState({condition, {}});
        QWidget *banner = screen->printerBanner();
        QVERIFY(banner->isVisible());
        QVERIFY(QRect(QPoint(), display).contains(banner->geometry()));
        for (const QLabel *line : banner->findChildren<QLabel *>()) {
            const int needed = line->fontMetrics().horizontalAdvance(line->text());
            const QRect drawn = line->contentsRect();
            QVERIFY2(needed <= drawn.width() && line->x() >= 0 &&
                         line->x() + line->width() <= banner->width(),
                     qPrintable(QStringLiteral("\"%1\" needs %2 px, has %3")
                                    .arg(line->text())
                                    .arg(needed)
                                    .arg(drawn.width())));
            QVERIFY(line->font().pixelSize() >= 20); // still read from a few steps away
        }
    }
}

QTEST_MAIN(TestKioskRender)
#include "test_kioskrender.moc"
