#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTest>

// Without a font package Qt draws every text as empty boxes and says nothing, so the
// kiosk would show blank buttons and print blank tickets. These tests catch a machine
// set up without the fonts the installation script brings.
class TestFonts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fontsAreInstalled();
    void textReallyRenders_data();
    void textReallyRenders();
};

void TestFonts::fontsAreInstalled()
{
    QVERIFY2(!QFontDatabase::families().isEmpty(), "no font installed");
    // Arial is asked for by name; its metric-compatible stand-in must be there.
    const QFontInfo arial(QFont(QStringLiteral("Arial"), 20));
    QVERIFY2(arial.family().contains(QStringLiteral("Liberation Sans")) ||
                 arial.family().contains(QStringLiteral("Arial")),
             qPrintable(arial.family()));
}

void TestFonts::textReallyRenders_data()
{
    QTest::addColumn<QString>("family");
    QTest::addRow("Arial") << QStringLiteral("Arial");
    QTest::addRow("Tahoma") << QStringLiteral("Tahoma");
    QTest::addRow("Comic Sans MS") << QStringLiteral("Comic Sans MS");
}

void TestFonts::textReallyRenders()
{
    QFETCH(QString, family);
    QImage image(200, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(QFont(family, 24));
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Città 123"));
    }
    // A text drawn as glyphs has many dark pixels in several separate columns; boxes or
    // nothing at all do not reach this.
    int dark = 0;
    int inkColumns = 0;
    for (int x = 0; x < image.width(); ++x) {
        bool ink = false;
        for (int y = 0; y < image.height(); ++y) {
            if (qGray(image.pixel(x, y)) < 100) {
                ++dark;
                ink = true;
            }
        }
        inkColumns += ink ? 1 : 0;
    }
    QVERIFY2(dark > 200, qPrintable(QString::number(dark)));
    QVERIFY2(inkColumns > 60, qPrintable(QString::number(inkColumns)));

    // Empty boxes would give every glyph the same width; real glyphs differ.
    const QFontMetrics metrics(QFont(family, 24));
    QVERIFY(metrics.horizontalAdvance(QLatin1Char('i')) < metrics.horizontalAdvance(QLatin1Char('M')));
}

QTEST_MAIN(TestFonts)
#include "test_fonts.moc"
