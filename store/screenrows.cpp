#include "screenrows.h"

#include "tables.h"

namespace nx7 {

Result<QVariant> StoredRecord::value(const QString &field) const
{
    for (const auto &[name, value] : m_fields) {
        if (name.compare(field, Qt::CaseInsensitive) == 0)
            return m_present ? Result<QVariant>(value) : Error::make(ErrorNumber::NoCurrentRecord);
    }
    // As a record set answers for a field it does not have, whether or not it has a record.
    return Error::make(ErrorNumber::ItemNotFound,
                       QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(field));
}

namespace ScreenRows {

Result<StoredRecord> screenSettings(Database &server)
{
    auto table = RecordSet::openTable(server, Table::ScreenSettings);
    if (!table)
        return table.error();
    FieldValues fields;
    for (int i = 0; i < table->fieldCount(); ++i)
        fields.append({table->fieldName(i), table->value(i)});
    return StoredRecord(std::move(fields), !table->eof());
}

Result<ActiveServices> activeServices(Database &server, int limit)
{
    auto services = RecordSet::openTable(server, Table::Services);
    if (!services)
        return services.error();
    ActiveServices active;
    for (services->moveFirst(); !services->eof(); services->moveNext()) {
        auto flag = services->value(Field::ServiceActive);
        if (!flag)
            return flag.error();
        if (!Value::isTrue(*flag))
            continue;
        if (active.rows.size() == limit) {
            ++active.beyondLimit;
            continue;
        }
        auto name = services->value(Field::ServiceName);
        if (!name)
            return name.error();
        auto id = services->value(Field::Id);
        if (!id)
            return id.error();
        active.rows.append({*id, *name});
    }
    return active;
}

} // namespace ScreenRows

} // namespace nx7
