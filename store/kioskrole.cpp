#include "kioskrole.h"

#include "database.h"
#include "sharednumbering.h"
#include "storelog.h"

namespace nx7::KioskRole {

namespace {

struct SharedTable
{
    QString name;    // as the kiosk spells it
    QString sqlName; // schema-qualified, quoted as the server holds it
    QString schema;  // quoted
    qint64 oid = 0;
};

Error refused(const QString &text)
{
    return Error::make(ErrorNumber::DatabaseOperationFailed, text);
}

// The single value of a query of one row, or `missing` when it returns none.
Result<QVariantList> oneRow(Database &db, const QString &sql, const QVariantList &binds,
                            const Error &missing)
{
    auto rows = db.select(sql, binds);
    if (!rows)
        return rows.error();
    if (rows->isEmpty())
        return missing;
    return rows->first();
}

Status checkRole(Database &db, const QString &role)
{
    auto found = oneRow(db,
                        QStringLiteral("SELECT rolsuper OR rolbypassrls, rolname = current_user "
                                       "FROM pg_catalog.pg_roles WHERE rolname = ?::name"),
                        {role},
                        refused(QStringLiteral("Il ruolo \"%1\" non esiste: crearlo prima con "
                                               "createuser o CREATE ROLE ... LOGIN.")
                                    .arg(role)));
    if (!found)
        return found.error();
    if (found->at(0).toBool() || found->at(1).toBool())
        return refused(QStringLiteral("Il ruolo \"%1\" è un superutente o il proprietario "
                                      "stesso: i permessi non lo limiterebbero. Usare un "
                                      "ruolo apposito per i totem.")
                           .arg(role));
    return {};
}

// The table as the kiosk finds it (any capitalisation, the search path's first schema),
// refused when the role owns it or belongs to its owner.
Result<SharedTable> findTable(Database &db, const QString &name, const QString &role)
{
    auto found = oneRow(
        db,
        QStringLiteral(
            "SELECT c.oid::bigint, quote_ident(n.nspname) || '.' || quote_ident(c.relname), "
            "quote_ident(n.nspname), pg_has_role(?::name, c.relowner, 'USAGE') "
            "FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
            "WHERE c.relkind IN ('r', 'p') AND lower(c.relname::text) = lower(?::text) "
            "AND n.nspname = ANY (current_schemas(false)) "
            "ORDER BY array_position(current_schemas(false), n.nspname), "
            "(c.relname::text = ?::text) DESC LIMIT 1"),
        {role, name, name},
        Error::make(ErrorNumber::TableNotFound,
                    QStringLiteral("Tabella \"%1\" non trovata nel database.").arg(name)));
    if (!found)
        return found.error();
    if (found->at(3).toBool())
        return refused(QStringLiteral("Il ruolo \"%1\" è proprietario della tabella %2: i "
                                      "permessi non lo limiterebbero.")
                           .arg(role, found->at(1).toString()));
    return SharedTable{name, found->at(1).toString(), found->at(2).toString(),
                       found->at(0).toLongLong()};
}

Result<QString> waitingColumn(Database &db, const SharedTable &services)
{
    auto found = oneRow(
        db,
        QStringLiteral("SELECT quote_ident(attname) FROM pg_catalog.pg_attribute WHERE attrelid "
                       "= ?::oid AND attnum > 0 AND NOT attisdropped AND lower(attname::text) = "
                       "'attesa' ORDER BY (attname::text = 'Attesa') DESC LIMIT 1"),
        {services.oid},
        Error::make(ErrorNumber::ItemNotFound,
                    QStringLiteral("Manca il campo \"Attesa\" in %1.").arg(services.sqlName)));
    if (!found)
        return found.error();
    return found->first().toString();
}

// The sequences that give the queue's key its values (a serial or identity column).
Result<QStringList> keySequences(Database &db, const SharedTable &queue)
{
    auto rows = db.select(QStringLiteral("SELECT d.objid::regclass::text FROM pg_catalog.pg_depend "
                                         "d JOIN pg_catalog.pg_class s ON s.oid = d.objid WHERE "
                                         "d.classid = 'pg_catalog.pg_class'::regclass AND "
                                         "d.refobjid = ?::oid AND s.relkind = 'S' AND d.deptype IN "
                                         "('a', 'i') ORDER BY 1"),
                          {queue.oid});
    if (!rows)
        return rows.error();
    QStringList sequences;
    for (const QVariantList &row : *rows)
        sequences.append(row.first().toString());
    return sequences;
}

Result<bool> roleMay(Database &db, const QString &check, const QVariantList &binds)
{
    auto found = oneRow(db, check, binds, Error::make(ErrorNumber::DatabaseOperationFailed));
    if (!found)
        return found.error();
    return found->first().toBool();
}

// The statements, in order, with the line that reports each; run in one transaction.
struct Plan
{
    QStringList statements;
    QStringList granted;
    void add(const QString &statement, const QString &line = QString())
    {
        statements.append(statement);
        if (!line.isEmpty())
            granted.append(line);
    }
};

// Connecting and finding the tables, granted even where PUBLIC has them, so that the role
// keeps working should an administrator take them from PUBLIC.
Status addAccess(Database &db, const QString &role, const QStringList &schemas, Plan &plan)
{
    auto name = db.select(QStringLiteral("SELECT quote_ident(current_database())"));
    if (!name)
        return name.error();
    const QString database = name->first().first().toString();
    const QString grantee = Database::quoted(role);
    plan.add(QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2").arg(database, grantee),
             QStringLiteral("CONNECT al database %1").arg(database));
    for (const QString &schema : schemas)
        plan.add(QStringLiteral("GRANT USAGE ON SCHEMA %1 TO %2").arg(schema, grantee),
                 QStringLiteral("USAGE dello schema %1").arg(schema));
    return {};
}

} // namespace

Result<QStringList> grant(const QString &connectionString, const QString &role)
{
    if (role.trimmed().isEmpty())
        return refused(QStringLiteral("Indicare il ruolo dei totem."));
    auto db = Database::openPostgres(connectionString);
    if (!db)
        return db.error();
    if (Status status = checkRole(*db, role); !status)
        return status.error();
    QList<SharedTable> tables;
    for (const QString &name : {QStringLiteral("Servizi"), QStringLiteral("configurazioneTotem"),
                                QStringLiteral("Codafromtotem")}) {
        auto table = findTable(*db, name, role);
        if (!table)
            return table.error();
        tables.append(*table);
    }
    const SharedTable services = tables.at(0);
    const SharedTable configuration = tables.at(1);
    const SharedTable queue = tables.at(2);
    auto waiting = waitingColumn(*db, services);
    if (!waiting)
        return waiting.error();
    auto sequences = keySequences(*db, queue);
    if (!sequences)
        return sequences.error();

    // The shared numbering's tables, where the installation switched it on.
    QList<std::pair<SharedTable, QString>> numbering;
    for (const auto &[name, rights] : SharedNumbering::kioskRights(*db)) {
        auto table = findTable(*db, name, role);
        if (!table)
            return table.error();
        numbering.append({*table, rights});
        tables.append(*table);
    }

    const QString grantee = Database::quoted(role);
    Plan plan;
    QStringList schemas;
    for (const SharedTable &table : tables) {
        if (!schemas.contains(table.schema))
            schemas.append(table.schema);
    }
    if (Status status = addAccess(*db, role, schemas, plan); !status)
        return status.error();
    // Table rights given before (the owner's habit of granting everything) are taken back,
    // column rights with them.
    for (const SharedTable &table : tables)
        plan.add(QStringLiteral("REVOKE ALL ON TABLE %1 FROM %2").arg(table.sqlName, grantee));
    for (const QString &sequence : *sequences)
        plan.add(QStringLiteral("REVOKE ALL ON SEQUENCE %1 FROM %2").arg(sequence, grantee));
    for (const SharedTable *table : {&services, &configuration})
        plan.add(QStringLiteral("GRANT SELECT ON TABLE %1 TO %2").arg(table->sqlName, grantee),
                 QStringLiteral("SELECT su %1").arg(table->sqlName));
    plan.add(QStringLiteral("GRANT UPDATE (%1) ON TABLE %2 TO %3")
                 .arg(*waiting, services.sqlName, grantee),
             QStringLiteral("UPDATE della sola colonna %1 di %2").arg(*waiting, services.sqlName));
    plan.add(QStringLiteral("GRANT SELECT, INSERT, DELETE ON TABLE %1 TO %2")
                 .arg(queue.sqlName, grantee),
             QStringLiteral("SELECT, INSERT, DELETE su %1").arg(queue.sqlName));
    for (const auto &[table, rights] : numbering)
        plan.add(QStringLiteral("GRANT %1 ON TABLE %2 TO %3").arg(rights, table.sqlName, grantee),
                 QStringLiteral("%1 su %2").arg(rights, table.sqlName));
    for (const QString &sequence : *sequences)
        plan.add(
            QStringLiteral("GRANT USAGE ON SEQUENCE %1 TO %2").arg(sequence, grantee),
            QStringLiteral("USAGE della sequenza %1 (chiave di %2)").arg(sequence, queue.sqlName));

    if (Status begun = db->beginTransaction(); !begun)
        return begun.error();
    for (const QString &statement : std::as_const(plan.statements)) {
        if (Status done = db->exec(statement); !done) {
            db->rollback();
            return done.error();
        }
    }
    if (Status committed = db->commit(); !committed)
        return committed.error();
    qCInfo(lcStore).noquote() << "kiosk role" << role << "granted:" << plan.granted.join(u';');

    QStringList lines = plan.granted;
    for (const QString &schema : std::as_const(schemas)) {
        auto create = roleMay(
            *db, QStringLiteral("SELECT has_schema_privilege(?::name, ?::regnamespace, 'CREATE')"),
            {role, schema});
        if (create && *create)
            lines.append(QStringLiteral("ATTENZIONE: il ruolo può creare tabelle nello schema %1 "
                                        "(diritto CREATE di PUBLIC o suo): togliere con REVOKE "
                                        "CREATE ON SCHEMA %1 FROM PUBLIC")
                             .arg(schema));
    }
    return lines;
}

} // namespace nx7::KioskRole
