#include "siteconfig.h"

#include "tables.h"

#include <QRegularExpression>

namespace nx7::SiteConfig {

namespace {

const QStringList kResolutionNames{QStringLiteral("1280x1024"), QStringLiteral("1920x1080"),
                                   QStringLiteral("1440x900"), QStringLiteral("800x600")};

QList<Setting> fontSettings(const QString &prefix, const QString &part,
                            const Field::FontFields &fields)
{
    const auto key = [&](const char *suffix) {
        return QStringLiteral("%1-%2").arg(prefix, QLatin1StringView(suffix));
    };
    return {{key("font"), fields.name, Kind::Text, QStringLiteral("carattere %1").arg(part)},
            {key("grassetto"), fields.bold, Kind::YesNo, QStringLiteral("grassetto %1").arg(part)},
            {key("corsivo"), fields.italic, Kind::YesNo, QStringLiteral("corsivo %1").arg(part)},
            {key("dimensione"), fields.size, Kind::FontSize,
             QStringLiteral("punti del carattere %1").arg(part)},
            {key("colore"), fields.colour, Kind::Colour, QStringLiteral("colore %1").arg(part)}};
}

Error refused(const Setting &setting, const QString &typed, const QString &allowed)
{
    return Error::make(
        ErrorNumber::Overflow,
        QStringLiteral("%1 \"%2\" non valido: %3.").arg(setting.key, typed, allowed));
}

Result<QVariant> parseNumber(const Setting &setting, const QString &typed, int min, int max)
{
    bool ok = false;
    const int number = typed.trimmed().toInt(&ok);
    if (!ok || number < min || number > max)
        return refused(setting, typed, QStringLiteral("un numero da %1 a %2").arg(min).arg(max));
    return QVariant(number);
}

Result<QVariant> parseColour(const Setting &setting, const QString &typed)
{
    const QString text = typed.trimmed();
    static const QRegularExpression hex(QStringLiteral("^#([0-9A-Fa-f]{6})$"));
    if (const auto match = hex.match(text); match.hasMatch()) {
        const uint rgb = match.captured(1).toUInt(nullptr, 16);
        const uint stored = (rgb >> 16) + (rgb & 0xFF00) + ((rgb & 0xFF) << 16);
        return QVariant(QString::number(stored));
    }
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < 0 || number > 0xFFFFFF)
        return refused(setting, typed,
                       QStringLiteral("#RRGGBB, o un numero da 0 a 16777215 (rosso + 256 verde "
                                      "+ 65536 blu)"));
    return QVariant(QString::number(number));
}

} // namespace

const QList<Setting> &screenSettings()
{
    static const QList<Setting> settings = [] {
        QList<Setting> list{{QStringLiteral("risoluzione"), Field::Resolution, Kind::Resolution,
                             QStringLiteral("schermo del totem")},
                            {QStringLiteral("sfondo"), Field::Background, Kind::Text,
                             QStringLiteral("immagine di sfondo (vuoto: nessuna)")},
                            {QStringLiteral("titolo"), Field::Title, Kind::Text,
                             QStringLiteral("titolo sopra i pulsanti")}};
        list << fontSettings(QStringLiteral("titolo"), QStringLiteral("del titolo"),
                             Field::TitleFont)
             << fontSettings(QStringLiteral("data"), QStringLiteral("della data"), Field::DateFont)
             << fontSettings(QStringLiteral("pulsanti"), QStringLiteral("dei pulsanti"),
                             Field::ButtonFont);
        list << Setting{QStringLiteral("titolo-visibile"), Field::TitleVisible, Kind::YesNo,
                        QStringLiteral("titolo mostrato")}
             << Setting{QStringLiteral("data-visibile"), Field::DateVisible, Kind::YesNo,
                        QStringLiteral("data mostrata")};
        return list;
    }();
    return settings;
}

const QList<Setting> &stationSettings()
{
    static const QList<Setting> settings{{QStringLiteral("attivo"), Field::WaitEnabled, Kind::YesNo,
                                          QStringLiteral("schermo fermo dopo ogni biglietto")},
                                         {QStringLiteral("secondi"), Field::WaitSeconds,
                                          Kind::Seconds,
                                          QStringLiteral("secondi di schermo fermo")}};
    return settings;
}

std::optional<Setting> find(const QList<Setting> &settings, const QString &key)
{
    for (const Setting &setting : settings) {
        if (setting.key.compare(key, Qt::CaseInsensitive) == 0)
            return setting;
    }
    return std::nullopt;
}

Result<QVariant> parse(const Setting &setting, const QString &typed)
{
    switch (setting.kind) {
    case Kind::Text:
        // One line: the screen shows the field as a single label.
        if (typed.contains(u'\n') || typed.contains(u'\r'))
            return refused(setting, typed, QStringLiteral("una sola riga"));
        return QVariant(typed);
    case Kind::YesNo: {
        const QString answer = typed.trimmed().toLower();
        if (answer != QStringLiteral("si") && answer != QStringLiteral("sì") &&
            answer != QStringLiteral("no"))
            return refused(setting, typed, QStringLiteral("si o no"));
        return QVariant(answer == QStringLiteral("no") ? 0 : -1);
    }
    case Kind::Resolution:
        if (const qsizetype named = kResolutionNames.indexOf(typed.trimmed()); named >= 0)
            return QVariant(int(named));
        if (auto code = parseNumber(setting, typed, 0, 3))
            return code;
        return refused(setting, typed,
                       QStringLiteral("0=1280x1024, 1=1920x1080, 2=1440x900, 3=800x600"));
    case Kind::FontSize:
        return parseNumber(setting, typed, 1, kMaxFontSize);
    case Kind::Colour:
        return parseColour(setting, typed);
    case Kind::Seconds:
        return parseNumber(setting, typed, 0, kMaxWaitSeconds);
    }
    return QVariant(typed);
}

QString shown(const Setting &setting, const QVariant &stored)
{
    if (Value::isNull(stored))
        return QStringLiteral("(vuoto)");
    switch (setting.kind) {
    case Kind::YesNo:
        return Value::isTrue(stored) ? QStringLiteral("si") : QStringLiteral("no");
    case Kind::Resolution: {
        const auto code = Value::toInt32(stored);
        const QString name = code ? kResolutionNames.value(*code) : QString();
        return name.isEmpty() ? stored.toString() : QStringLiteral("%1 (%2)").arg(name).arg(*code);
    }
    case Kind::Colour: {
        bool ok = false;
        const uint number = stored.toString().toUInt(&ok) & 0xFFFFFFu;
        if (!ok)
            return stored.toString();
        const uint rgb = ((number & 0xFF) << 16) + (number & 0xFF00) + (number >> 16);
        return QStringLiteral("#%1").arg(rgb, 6, 16, QLatin1Char('0')).toUpper();
    }
    case Kind::Text:
    case Kind::FontSize:
    case Kind::Seconds:
        break;
    }
    return stored.toString();
}

Result<Values> read(Database &db, const QString &table, const QList<Setting> &settings)
{
    auto rows = RecordSet::openTable(db, table);
    if (!rows)
        return rows.error();
    Values values;
    for (const Setting &setting : settings) {
        auto value = rows->value(setting.field);
        if (!value)
            return value.error();
        values.append({setting, *value});
    }
    return values;
}

Status write(Database &db, const QString &table, const Values &values)
{
    auto rows = RecordSet::openTable(db, table);
    if (!rows)
        return rows.error();
    if (Status status = rows->edit(); !status)
        return status;
    for (const auto &[setting, value] : values) {
        if (Status status = rows->setValue(setting.field, value); !status)
            return status;
    }
    return rows->update();
}

Result<Values> readScreen(Database &server)
{
    return read(server, Table::ScreenSettings, screenSettings());
}

Status writeScreen(Database &server, const Values &values)
{
    return write(server, Table::ScreenSettings, values);
}

Result<Values> readStation(Database &local)
{
    return read(local, Table::LocalSettings, stationSettings());
}

Status writeStation(Database &local, const Values &values)
{
    return write(local, Table::LocalSettings, values);
}

Result<QList<Service>> services(Database &server)
{
    auto rows = RecordSet::openTable(server, Table::Services);
    if (!rows)
        return rows.error();
    QList<Service> list;
    const QStringList fields{Field::Id, Field::ServiceName, Field::ServiceActive, Field::Waiting};
    for (rows->moveFirst(); !rows->eof(); rows->moveNext()) {
        QVariantList row;
        for (const QString &field : fields) {
            auto value = rows->value(field);
            if (!value)
                return value.error();
            row.append(*value);
        }
        const auto number = [](const QVariant &value) {
            const auto whole = Value::toInt32(value);
            return whole ? int(*whole) : 0;
        };
        list.append(
            {number(row.at(0)), row.at(1).toString(), Value::isTrue(row.at(2)), number(row.at(3))});
    }
    return list;
}

Status setService(Database &server, int id, const std::optional<QString> &name,
                  std::optional<bool> active)
{
    if (id < 1 || id > kServiceCount)
        return Error::make(
            ErrorNumber::Overflow,
            QStringLiteral("servizio %1 non valido: va da 1 a %2.").arg(id).arg(kServiceCount));
    if (name && (name->trimmed().isEmpty() || name->contains(u'\n')))
        return Error::make(
            ErrorNumber::Overflow,
            QStringLiteral("nome \"%1\" non valido: una riga non vuota.").arg(*name));
    auto rows = RecordSet::openTable(server, Table::Services, Field::Id, id);
    if (!rows)
        return rows.error();
    if (rows->recordCount() == 0)
        return Error::make(ErrorNumber::NoCurrentRecord,
                           QStringLiteral("Il servizio %1 non è nel database del server.").arg(id));
    if (Status status = rows->edit(); !status)
        return status;
    if (name)
        if (Status status = rows->setValue(Field::ServiceName, *name); !status)
            return status;
    if (active)
        if (Status status = rows->setValue(Field::ServiceActive, *active ? -1 : 0); !status)
            return status;
    return rows->update();
}

} // namespace nx7::SiteConfig
