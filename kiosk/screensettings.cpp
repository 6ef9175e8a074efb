#include "screensettings.h"

#include "database.h"
#include "kiosklog.h"
#include "screenrows.h"
#include "tables.h"

namespace nx7 {

namespace {
constexpr int kDefaultFontSize = 10;
const QString kDefaultFontName = QStringLiteral("Arial");
} // namespace

QFont FontSetting::applyTo(QFont base) const
{
    base.setFamily(family);
    base.setBold(bold);
    base.setItalic(italic);
    base.setPointSize(pointSize);
    return base;
}

namespace SettingValue {

QString text(const QVariant &value, const QString &whenNull)
{
    if (Value::isNull(value))
        return whenNull;
    return value.toString();
}

Result<int> fontSize(const QVariant &value)
{
    auto size = Value::toInt32(value);
    if (!size)
        return size.error();
    if (*size <= 0) {
        if (*size < 0)
            qCWarning(lcKiosk) << "font size" << *size << "is negative: 10 is used";
        return kDefaultFontSize;
    }
    return int(*size);
}

QColor colourFromNumber(qint64 number)
{
    // Only the three colour bytes count; a larger number keeps its low 24 bits.
    const auto rgb = quint32(number) & 0xFFFFFFu;
    return QColor(int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int((rgb >> 16) & 0xFF));
}

Result<QColor> colour(const QVariant &value)
{
    const QString digits = text(value, QStringLiteral("0"));
    if (digits.isEmpty())
        return QColor(Qt::black);
    auto number = Value::toInt32(digits);
    if (!number)
        return number.error();
    return colourFromNumber(*number);
}

} // namespace SettingValue

namespace {

class FieldReader
{
public:
    explicit FieldReader(const StoredRecord &record) : m_record(record) {}

    bool failed() const { return m_failed; }
    const Error &error() const { return m_error; }

    QString text(const QString &field, const QString &whenNull = QString())
    {
        return SettingValue::text(raw(field), whenNull);
    }
    bool flag(const QString &field) { return Value::isTrue(raw(field)); }
    int size(const QString &field)
    {
        return take(SettingValue::fontSize(raw(field)), field, kDefaultFontSize);
    }
    QColor colour(const QString &field)
    {
        return take(SettingValue::colour(raw(field)), field, QColor(Qt::black));
    }
    FontSetting font(const Field::FontFields &fields)
    {
        FontSetting setting;
        setting.family = text(fields.name, kDefaultFontName);
        setting.bold = flag(fields.bold);
        setting.italic = flag(fields.italic);
        setting.pointSize = size(fields.size);
        setting.colour = colour(fields.colour);
        return setting;
    }

private:
    QVariant raw(const QString &field)
    {
        if (failed())
            return {};
        auto value = m_record.value(field);
        if (!value) {
            fail(value.error(), field);
            return {};
        }
        return *value;
    }
    template <typename T> T take(Result<T> result, const QString &field, T whenFailed)
    {
        if (failed())
            return whenFailed;
        if (!result) {
            fail(result.error(), field);
            return whenFailed;
        }
        return *result;
    }
    void fail(const Error &error, const QString &field)
    {
        qCWarning(lcKiosk).noquote()
            << "screen setting" << field << "unreadable:" << error.number << error.description;
        m_error = error;
        m_failed = true;
    }

    const StoredRecord &m_record;
    Error m_error;
    bool m_failed = false;
};

} // namespace

Result<ScreenSettings> ScreenSettings::read(const StoredRecord &record)
{
    FieldReader field(record);
    ScreenSettings settings;
    settings.backgroundPicturePath = field.text(Field::Background);
    settings.titleText = field.text(Field::Title);
    settings.title = field.font(Field::TitleFont);
    settings.date = field.font(Field::DateFont);
    settings.button = field.font(Field::ButtonFont);
    settings.titleVisible = field.flag(Field::TitleVisible);
    settings.dateVisible = field.flag(Field::DateVisible);
    if (field.failed())
        return field.error();
    return settings;
}

} // namespace nx7
