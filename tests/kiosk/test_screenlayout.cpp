#include "backgroundpicture.h"
#include "database.h"
#include "screenfit.h"
#include "screenrows.h"
#include "screenlayout.h"
#include "screensettings.h"
#include "tempinstallation.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

using namespace nx7;

class TestScreenLayout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void resolutionsCoverTheirDisplays();
    void everyLayoutFitsItsScreen();
    void onlyTheListedCountsHaveALayout();
    void workedExamples();
    void datePlacement();
    void fontSizes();
    void colourTexts();
    void settingsFromARecordWithoutValues();
    void settingsWithoutASizeFail();
    void backgroundFaults();
    void whatTheScreenHolds();
};

void TestScreenLayout::resolutionsCoverTheirDisplays()
{
    const QList<QSize> displays{{1280, 1024}, {1920, 1080}, {1440, 900}, {800, 600}};
    for (int code = 0; code < 4; ++code) {
        const auto resolution = Resolutions::byCode(code);
        QVERIFY(resolution);
        QCOMPARE(Twips::toPixels(resolution->rect()).size(), displays.at(code));
        QCOMPARE(resolution->referenceWidth, resolution->width);
    }
    QVERIFY(!Resolutions::byCode(4));
    QVERIFY(!Resolutions::byCode(-1));
}

// Rows of buttons as they come: a new row begins where the top changes.
static QList<QList<QRect>> rowsOf(const QList<QRect> &rects)
{
    QList<QList<QRect>> rows;
    for (const QRect &rect : rects) {
        if (rows.isEmpty() || rows.last().first().top() != rect.top())
            rows.append(QList<QRect>());
        rows.last().append(rect);
    }
    return rows;
}

void TestScreenLayout::everyLayoutFitsItsScreen()
{
    int checked = 0;
    for (const Resolution &resolution : Resolutions::all()) {
        const QRect screenPixels = Twips::toPixels(resolution.rect());
        for (int count = 1; count <= resolution.maxServices; ++count) {
            const QString where =
                QStringLiteral("code %1, %2 services").arg(resolution.code).arg(count);
            const auto rects = ScreenLayout::buttonRects(resolution.code, count);
            QVERIFY2(rects, qPrintable(where));
            QVERIFY2(rects->size() == count, qPrintable(where));
            for (int i = 0; i < count; ++i) {
                const QRect a = rects->at(i);
                QVERIFY2(resolution.rect().contains(a), qPrintable(where));
                QVERIFY2(screenPixels.contains(Twips::toPixels(a)), qPrintable(where));
                for (int j = i + 1; j < count; ++j) {
                    const QRect b = rects->at(j);
                    QVERIFY2(!a.intersects(b),
                             qPrintable(where + QStringLiteral(" %1/%2").arg(i + 1).arg(j + 1)));
                    QVERIFY2(!Twips::toPixels(a).intersects(Twips::toPixels(b)), qPrintable(where));
                }
            }
            // Left to right within a row, rows top to bottom, every row but the last full.
            const auto rows = rowsOf(*rects);
            const qsizetype columns = rows.first().size();
            for (qsizetype r = 0; r < rows.size(); ++r) {
                const auto &row = rows.at(r);
                for (qsizetype c = 1; c < row.size(); ++c)
                    QVERIFY2(row.at(c).left() > row.at(c - 1).right(), qPrintable(where));
                if (r > 0)
                    QVERIFY2(row.first().top() > rows.at(r - 1).first().bottom(),
                             qPrintable(where));
                if (r + 1 < rows.size())
                    QVERIFY2(row.size() == columns, qPrintable(where));
                else
                    QVERIFY2(row.size() <= columns, qPrintable(where));
            }
            ++checked;
        }
    }
    QCOMPARE(checked, 3 * 20 + 12);
}

void TestScreenLayout::onlyTheListedCountsHaveALayout()
{
    for (int code = 0; code < 4; ++code) {
        QVERIFY(!ScreenLayout::buttonRects(code, 0));
        QVERIFY(!ScreenLayout::buttonRects(code, 21));
        QVERIFY(!ScreenLayout::buttonRects(code, -1));
    }
    QVERIFY(ScreenLayout::buttonRects(3, 12));
    for (int count = 13; count <= 20; ++count)
        QVERIFY(!ScreenLayout::buttonRects(3, count));
    QVERIFY(!ScreenLayout::buttonRects(4, 1));
}

void TestScreenLayout::workedExamples()
{
    // 12 services at 1920 x 1080.
    const auto twelve = ScreenLayout::buttonRects(1, 12);
    QVERIFY(twelve);
    const QList<int> lefts{1680, 6720, 11760, 16800, 21840};
    for (int i = 0; i < 10; ++i)
        QCOMPARE(twelve->at(i), QRect(lefts.at(i % 5), i < 5 ? 4000 : 7720, 4935, 3615));
    QCOMPARE(twelve->at(10), QRect(9360, 11440, 4935, 3615));
    QCOMPARE(twelve->at(11), QRect(14400, 11440, 4935, 3615));

    // 6 services at 1440 x 900: the middle button of the second row is at 7880.
    const auto six = ScreenLayout::buttonRects(2, 6);
    QVERIFY(six);
    const QList<QPoint> corners{{1680, 2440}, {7800, 2440}, {13920, 2440},
                                {1680, 6520}, {7880, 6520}, {13920, 6520}};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(six->at(i), QRect(corners.at(i), QSize(5895, 3615)));

    // One service at 800 x 600.
    const auto one = ScreenLayout::buttonRects(3, 1);
    QVERIFY(one);
    QCOMPARE(*one, QList<QRect>{QRect(960, 2880, 10095, 3495)});

    // 1280 x 1024 with 17 to 20 services: the rows step by 2340, 2460, 2400 and 2400.
    for (int count = 17; count <= 20; ++count) {
        const auto rects = ScreenLayout::buttonRects(0, count);
        QVERIFY(rects);
        QList<int> tops;
        for (const QRect &rect : *rects) {
            if (tops.isEmpty() || tops.last() != rect.top())
                tops.append(rect.top());
        }
        QCOMPARE(tops, QList<int>({2880, 5220, 7680, 10080, 12480}));
    }

    // 1920 x 1080 places one and two services at different tops.
    QCOMPARE(ScreenLayout::buttonRects(1, 1)->first().top(), 5520);
    QCOMPARE(ScreenLayout::buttonRects(1, 2)->first().top(), 5400);
}

void TestScreenLayout::datePlacement()
{
    QCOMPARE(dateLabelLeft(12000, 1900), 9860);
    QCOMPARE(dateLabelLeft(28800, 1900), 26660);
}

void TestScreenLayout::fontSizes()
{
    QCOMPARE(*SettingValue::fontSize(0), 10);
    QCOMPARE(*SettingValue::fontSize(14), 14);
    QCOMPARE(*SettingValue::fontSize(14.5), 14); // half to even
    QCOMPARE(*SettingValue::fontSize(15.5), 16);
    QCOMPARE(*SettingValue::fontSize(QStringLiteral("24")), 24);
    QCOMPARE(*SettingValue::fontSize(-3), 10);
    QCOMPARE(SettingValue::fontSize(QVariant()).errorNumber(), ErrorNumber::InvalidUseOfNull);
    QCOMPARE(SettingValue::fontSize(QStringLiteral("grande")).errorNumber(),
             ErrorNumber::TypeMismatch);
}

void TestScreenLayout::colourTexts()
{
    QCOMPARE(*SettingValue::colour(QStringLiteral("255")), QColor(255, 0, 0));
    QCOMPARE(*SettingValue::colour(QStringLiteral("65280")), QColor(0, 255, 0));
    QCOMPARE(*SettingValue::colour(QStringLiteral("16711680")), QColor(0, 0, 255));
    QCOMPARE(*SettingValue::colour(QStringLiteral("8421631")), QColor(255, 128, 128));
    QCOMPARE(*SettingValue::colour(8388608.0), QColor(0, 0, 128)); // a numeric field
    QCOMPARE(*SettingValue::colour(QString()), QColor(Qt::black));
    QCOMPARE(*SettingValue::colour(QVariant()), QColor(Qt::black));
    QCOMPARE(SettingValue::colour(QStringLiteral("rosso")).errorNumber(),
             ErrorNumber::TypeMismatch);
}

void TestScreenLayout::settingsFromARecordWithoutValues()
{
    test::TempInstallation installation;
    QVERIFY2(installation.ok(), qPrintable(installation.error()));
    auto db = Database::open(installation.serverDatabase());
    QVERIFY(db);
    // Everything but the sizes without a value; a size of 0 means 10.
    QVERIFY(db->exec(QStringLiteral(
        "UPDATE configurazioneTotem SET SfondoTotem = NULL, TitoloTotem = NULL, FontTitolo = NULL,"
        " FontBoldTItolo = NULL, FontitalicTitolo = NULL, FontForecolorTitolo = NULL,"
        " FontData = NULL, FontBoldData = NULL, FontitalicData = NULL, FontForecolorData = NULL,"
        " Font = NULL, FontBold = NULL, Fontitalic = NULL, FontForecolor = '',"
        " TestoVisibile = NULL, DataVisibile = 'true', FontSize = 0")));
    auto table = ScreenRows::screenSettings(*db);
    QVERIFY(table);
    auto settings = ScreenSettings::read(*table);
    QVERIFY2(settings, qPrintable(settings.error().description));
    QCOMPARE(settings->backgroundPicturePath, QString());
    QCOMPARE(settings->titleText, QString());
    for (const FontSetting *font : {&settings->title, &settings->date, &settings->button}) {
        QCOMPARE(font->family, QStringLiteral("Arial"));
        QVERIFY(!font->bold);
        QVERIFY(!font->italic);
        QCOMPARE(font->colour, QColor(Qt::black));
    }
    QCOMPARE(settings->title.pointSize, 36);
    QCOMPARE(settings->button.pointSize, 10);
    QVERIFY(!settings->titleVisible);
    QVERIFY(!settings->dateVisible); // only the Boolean true counts, not a text
}

void TestScreenLayout::settingsWithoutASizeFail()
{
    test::TempInstallation installation;
    QVERIFY2(installation.ok(), qPrintable(installation.error()));
    auto db = Database::open(installation.serverDatabase());
    QVERIFY(db);
    QVERIFY(db->exec(QStringLiteral("UPDATE configurazioneTotem SET FontSizeData = NULL")));
    auto table = ScreenRows::screenSettings(*db);
    QVERIFY(table);
    QCOMPARE(ScreenSettings::read(*table).errorNumber(), ErrorNumber::InvalidUseOfNull);

    QVERIFY(db->exec(QStringLiteral("ALTER TABLE configurazioneTotem DROP COLUMN DataVisibile")));
    QVERIFY(db->exec(QStringLiteral("UPDATE configurazioneTotem SET FontSizeData = 12")));
    auto reread = ScreenRows::screenSettings(*db);
    QVERIFY(reread);
    QCOMPARE(ScreenSettings::read(*reread).errorNumber(), ErrorNumber::ItemNotFound);
}

void TestScreenLayout::backgroundFaults()
{
    using BackgroundPicture::Fault;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sfondo.png"));
    QCOMPARE(BackgroundPicture::faultOf(path), Fault::NotFound);
    const auto faultWith = [&path](const QByteArray &bytes) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return Fault::NotFound;
        file.close();
        return BackgroundPicture::faultOf(path);
    };
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(QImage(600, 600, QImage::Format_RGB32).save(&buffer, "PNG"));
    QCOMPARE(faultWith("GIF89a\x01"), Fault::Corrupt);
    QCOMPARE(faultWith(png.left(60)), Fault::Corrupt); // cut short
    // 600 x 600 pixels take 1.4 MB decoded: beyond a limit of 1 MB.
    const int previousLimit = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(1);
    const Fault large = faultWith(png);
    QImageReader::setAllocationLimit(previousLimit);
    QCOMPARE(large, Fault::TooLarge);
}

void TestScreenLayout::whatTheScreenHolds()
{
    // One and a half pixels of line height per point, as a common font has.
    const auto height = [](int points) { return points * 3 / 2; };
    QCOMPARE(ScreenFit::fittingPointSize(600, 150, height), 100);
    QCOMPARE(ScreenFit::fittingPointSize(24, 150, height), 24);
    QCOMPARE(ScreenFit::fittingPointSize(10000, 3, height), ScreenFit::kMinPointSize);
    QCOMPARE(ScreenFit::servicesShown(3, 13), 12);
    QCOMPARE(ScreenFit::servicesShown(0, 20), 20);
    QVERIFY(ScreenFit::tooManyServicesText(3, 12).isEmpty());
    QVERIFY(ScreenFit::tooManyServicesText(3, 13).contains(QStringLiteral("800 × 600")));
}

QTEST_GUILESS_MAIN(TestScreenLayout)
#include "test_screenlayout.moc"
