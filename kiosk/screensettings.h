#pragma once

#include "errors.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QVariant>

namespace nx7 {

class StoredRecord;

// Font name, style, size and text colour of one part of the kiosk screen.
struct FontSetting
{
    QString family = QStringLiteral("Arial");
    bool bold = false;
    bool italic = false;
    int pointSize = 10;
    QColor colour = Qt::black;

    // `base` with the name, bold, italic and size replaced.
    QFont applyTo(QFont base) const;
};

// The look of the kiosk screen, from the first record of the server's
// "configurazioneTotem".
struct ScreenSettings
{
    QString backgroundPicturePath; // empty: no picture
    QString titleText;
    FontSetting title;
    FontSetting date;
    FontSetting button;
    bool titleVisible = false;
    bool dateVisible = false;

    // Reads the nineteen fields in table order; the first field that is missing (3265),
    // a size without a value (94) or a colour that is not a number (13) fails the read.
    static Result<ScreenSettings> read(const StoredRecord &record);
};

// The value rules of the screen settings.
namespace SettingValue {
// Text as stored; Null gives `whenNull`.
QString text(const QVariant &value, const QString &whenNull = QString());
// Whole points; 0 (and a negative size, which no font can take) means 10; Null is 94.
Result<int> fontSize(const QVariant &value);
// The colour number red + 256 x green + 65536 x blue, held as decimal text (or as a
// number, read through its text); Null reads as "0" and empty text is black.
Result<QColor> colour(const QVariant &value);
QColor colourFromNumber(qint64 number);
} // namespace SettingValue

} // namespace nx7
