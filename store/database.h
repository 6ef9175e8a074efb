#pragma once

#include "errors.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <utility>

class QSqlError;
class QSqlQuery;

namespace nx7 {

using FieldValues = QList<std::pair<QString, QVariant>>;
struct TableShape;

// One open database file. The local database belongs to one kiosk; the shared one is
// written by several stations at once and waits a few seconds for their locks.
class Database
{
public:
    enum class Sharing
    {
        Local,
        Shared
    };

    // Never creates a file: a missing file is 3024, a missing folder 3044; a file of
    // the old Access kiosk or any other non-database file is refused (3343). The shared
    // database waits a few seconds for other stations' locks and uses the rollback journal.
    // When the folder of a server database "NX7PRO.mdb" holds "NX7PRO.pg", the database
    // is the PostgreSQL database named there instead, whether or not the file exists.
    static Result<Database> open(const QString &path, Sharing sharing = Sharing::Local);
    // A PostgreSQL database by its libpq connection string ("host=... dbname=..." or a
    // "postgresql://" URI). Connections are kept between opens and made again after a
    // failure. A server that cannot be reached is 3044, as a server folder that is gone;
    // a missing database or a refused login 3051. `origin` names it in the log.
    static Result<Database> openPostgres(const QString &connectionString,
                                         const QString &origin = QString());

    // Connections to a PostgreSQL server made again after one broke (a server restarted or
    // failed over to its standby), in this process so far; 0 on SQLite.
    static quint64 serverReconnections();

    Database() = default; // not open
    bool isOpen() const { return m_connection != nullptr; }

    QString path() const;
    bool isPostgres() const;
    // Whether a failed statement lost a server connection after it was made, so that what
    // its transaction wrote is gone and may be written again on a new connection.
    bool lostConnection(const Status &failed) const;
    QString connectionName() const;

    // Runs a statement with bound values; never build SQL by pasting values.
    Status exec(const QString &sql, const QVariantList &binds = {});
    Result<QList<QVariantList>> select(const QString &sql, const QVariantList &binds = {});

    Status beginTransaction();
    Status commit();
    void rollback();

    bool hasTable(const QString &table);
    // Declared column names and types of a table, in table order; 3078 when it is missing.
    Result<QList<std::pair<QString, QString>>> columns(const QString &table);
    Status addColumn(const QString &table, const QString &column, const QString &declaredType);
    // Adds, in order, each of these columns (name, declared type) the table lacks, so that
    // a table holding some of them is completed too.
    Status addMissingColumns(const QString &table,
                             const QList<std::pair<QString, QString>> &wanted);
    Status deleteAllRows(const QString &table);
    Status insert(const QString &table, const FieldValues &fields);
    // Sets fields of the rows whose fields hold the `where` values; the rows changed.
    Result<int> update(const QString &table, const FieldValues &fields, const FieldValues &where);
    // Rows of a table whose fields hold these values, a Null matching a Null; the table
    // and the fields are found without regard to case.
    Result<int> countMatching(const QString &table, const FieldValues &fields);

    static QString quoted(const QString &identifier);

private:
    struct Connection;
    explicit Database(std::shared_ptr<Connection> connection);
    Result<TableShape> shape(const QString &table);
    QVariant bound(const QVariant &value, const QString &type) const;
    Status updateRow(const QString &sql, const QVariantList &binds,
                     const QStringList &keyExpressions, QVariantList &key);
    Error failure(const QSqlError &error, const QString &what);
    Result<QSqlQuery> run(const QString &sql, const QVariantList &binds);
    friend class RecordSet;

    std::shared_ptr<Connection> m_connection;
};

// Rows of a table or a query, read whole on open, with a current record.
// Table record sets can edit and add records; fields are named without regard to case.
class RecordSet
{
public:
    // The rows of a table in table order, optionally only those whose `column` equals
    // `value`. Table order is ascending rowid in SQLite; in PostgreSQL the primary key,
    // else an "ID" column, else the physical order of the rows.
    static Result<RecordSet> openTable(Database &db, const QString &table,
                                       const QString &column = QString(),
                                       const QVariant &value = QVariant());
    // The rows of a read-only query.
    static Result<RecordSet> openQuery(Database &db, const QString &sql,
                                       const QVariantList &binds = {});

    int recordCount() const { return int(m_rows.size()); }
    bool eof() const { return m_current >= m_rows.size(); }
    // Moving drops an edit or addition not yet saved with update().
    void moveFirst();
    void moveNext();

    int fieldCount() const { return int(m_fields.size()); }
    QString fieldName(int index) const { return m_fields.at(index); }
    // Declared type of a column ("INTEGER", "TEXT", "BOOLEAN", ...), upper case.
    QString declaredType(int index) const { return m_types.at(index); }
    bool hasField(const QString &name) const { return fieldIndex(name) >= 0; }

    // 3265 for an unknown field, 3021 without a current record.
    Result<QVariant> value(const QString &field) const;
    QVariant value(int index) const;

    // Positions on the first record whose field equals the value; false and no current
    // record when none matches. Drops an unsaved edit as a move does.
    Result<bool> findFirst(const QString &field, const QVariant &value);

    Status edit();
    Status addNew();
    Status setValue(const QString &field, const QVariant &value);
    Status update();

private:
    enum class Mode
    {
        Browse,
        Edit,
        Add
    };
    RecordSet() = default;
    int fieldIndex(const QString &name) const;
    Status load(QSqlQuery &query);
    Status updateCurrent(const FieldValues &changed);

    Database m_db;
    QString m_table;
    QString m_from; // the table as the SQL names it
    QStringList m_fields;
    QStringList m_types;
    // What tells the rows apart for an update: rowid in SQLite; in PostgreSQL the primary
    // key, or the row's physical position (ctid) in a table that has none.
    QStringList m_keyColumns;
    QList<QVariantList> m_keys;
    QList<QVariantList> m_rows;
    qsizetype m_current = 0;
    Mode m_mode = Mode::Browse;
    QVariantList m_buffer;
    QList<bool> m_dirty;
};

// Value rules shared by every store.
namespace Value {
// Yes/No: true for a non-zero number (old databases stored true as -1); false for 0,
// Null and anything else.
bool isTrue(const QVariant &value);
bool isNull(const QVariant &value);
// To a signed 32-bit integer, fractions rounded half to even: Null is 94, a text that
// is not a number 13, a value out of range 6.
Result<qint32> toInt32(const QVariant &value);
} // namespace Value

} // namespace nx7
