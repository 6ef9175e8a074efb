#include "kioskneeds.h"

#include "database.h"
#include "filenames.h"
#include "operatorerror.h"
#include "startuplog.h"
#include "stationstate.h"
#include "stores.h"
#include "tables.h"

namespace nx7::KioskNeeds {

namespace {

const QString &kCounters = Table::Counters;
const QString &kServices = Table::Services;
const QString &kConfiguration = Table::ScreenSettings;

Result<RecordSet> firstRowOf(Database &db, const QString &table, const QString &where)
{
    auto rows = RecordSet::openTable(db, table);
    if (!rows) {
        const QString text = rows.errorNumber() == ErrorNumber::TableNotFound
                                 ? QStringLiteral("Manca la tabella \"%1\" %2.")
                                 : QStringLiteral("Tabella \"%1\" %2 non leggibile.");
        return operatorError(rows.error(), text.arg(table, where));
    }
    if (rows->eof())
        return Error::make(ErrorNumber::NoCurrentRecord,
                           QStringLiteral("Tabella \"%1\" %2 vuota.").arg(table, where));
    return rows;
}

Status fieldsPresent(const RecordSet &rows, const QString &table, const QStringList &fields,
                     const QString &where)
{
    for (const QString &field : fields) {
        if (!rows.hasField(field))
            return Error::make(
                ErrorNumber::ItemNotFound,
                QStringLiteral("Manca il campo \"%1\" in \"%2\" %3.").arg(field, table, where));
    }
    return {};
}

// Read by the screen as numbers: a size must be set, a colour may be empty.
Status numbersReadable(const RecordSet &config)
{
    const QString where = QStringLiteral("del server");
    const auto fonts = {Field::TitleFont, Field::DateFont, Field::ButtonFont};
    QStringList fields;
    for (const Field::FontFields &font : fonts)
        fields << font.size;
    for (const Field::FontFields &font : fonts)
        fields << font.colour;
    for (const QString &field : std::as_const(fields)) {
        const QVariant value = *config.value(field);
        const bool colour = fields.indexOf(field) >= int(fonts.size());
        if (Value::isNull(value) || (colour && value.toString().isEmpty())) {
            if (colour)
                continue;
            return Error::make(ErrorNumber::InvalidUseOfNull,
                               QStringLiteral("Campo \"%1\" vuoto in \"%2\" %3.")
                                   .arg(field, kConfiguration, where));
        }
        if (auto number = Value::toInt32(value); !number)
            return Error::make(number.errorNumber(),
                               QStringLiteral("Campo \"%1\" non valido in \"%2\" %3.")
                                   .arg(field, kConfiguration, where));
    }
    return {};
}

// Every ticket writes its "Pn" and the print row: a database that takes no write (a
// read-only file or folder, a full disk) is found before anything on the server changes.
// The first row gets its own value back in a transaction that is rolled back.
Status writable(Database &db, RecordSet &rows)
{
    if (Status begun = db.beginTransaction(); !begun)
        return begun;
    const QString field = Field::counter(1);
    Status written = rows.edit();
    if (written)
        written = rows.setValue(field, *rows.value(field));
    if (written)
        written = rows.update();
    db.rollback();
    return written;
}

} // namespace

Status checkLocal(const Stores &stores)
{
    auto db = stores.local();
    if (!db)
        return operatorError(db.error(), QStringLiteral("Database locale \"%1\" non utilizzabile.")
                                             .arg(FileName::LocalDatabase));
    const QString where = QStringLiteral("locale");
    auto rows = firstRowOf(*db, kCounters, where);
    if (!rows)
        return rows.error();
    QStringList fields;
    for (int slot = 1; slot <= kSlotCount; ++slot)
        fields << Field::counter(slot);
    if (Status present = fieldsPresent(*rows, kCounters, fields, where); !present)
        return present;
    if (Status written = writable(*db, *rows); !written)
        return operatorError(written.error(),
                             QStringLiteral("Database locale \"%1\" non scrivibile nella cartella "
                                            "del totem.")
                                 .arg(FileName::LocalDatabase));
    return {};
}

Status checkServer(Database &server)
{
    const QString where = QStringLiteral("del server");
    auto services = RecordSet::openTable(server, kServices);
    if (!services)
        return operatorError(services.error(),
                             QStringLiteral("Manca la tabella \"%1\" %2.").arg(kServices, where));
    if (Status fields = fieldsPresent(*services, kServices,
                                      {Field::Id, Field::ServiceName, Field::ServiceActive}, where);
        !fields)
        return fields;
    int active = 0;
    for (services->moveFirst(); !services->eof() && active < kSlotCount; services->moveNext()) {
        if (!Value::isTrue(*services->value(Field::ServiceActive)))
            continue;
        ++active;
        if (Value::isNull(*services->value(Field::ServiceName)))
            return Error::make(ErrorNumber::InvalidUseOfNull,
                               QStringLiteral("Servizio attivo con ID %1 senza nome in \"%2\".")
                                   .arg(services->value(Field::Id)->toString(), kServices));
    }

    auto config = firstRowOf(server, kConfiguration, where);
    if (!config)
        return config.error();
    const QStringList fields = Field::screenSettings();
    if (Status present = fieldsPresent(*config, kConfiguration, fields, where); !present)
        return present;
    // The screen reads the fonts only when it has a service to show.
    return active > 0 ? numbersReadable(*config) : Status();
}

} // namespace nx7::KioskNeeds
