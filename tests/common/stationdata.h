#pragma once

#include "database.h"
#include "tempinstallation.h"

#include <QTest>

// Small readers and writers of a test installation's databases.
namespace nx7::test {

inline QList<QVariantList> rows(const QString &path, const QString &sql)
{
    auto db = Database::open(path);
    if (!db)
        return {};
    auto result = db->select(sql);
    return result ? *result : QList<QVariantList>{};
}

inline QVariant scalar(const QString &path, const QString &sql)
{
    const auto result = rows(path, sql);
    return result.isEmpty() ? QVariant() : result.first().value(0);
}

inline bool run(const QString &path, const QString &sql, const QVariantList &binds = {})
{
    auto db = Database::open(path);
    return db && db->exec(sql, binds);
}

// A local database that takes no write, failing as SQLite does on a read-only file.
inline const QString kRefuseLocalWrites =
    QStringLiteral("CREATE TRIGGER readOnly BEFORE UPDATE ON Numerazione "
                   "BEGIN SELECT RAISE(ABORT, 'attempt to write a readonly database'); END");

// Tickets already queued and people waiting, as after a day of work. The names are quoted
// and spelled exactly, so that the same statements run on SQLite and PostgreSQL.
inline bool fillQueueAndWaiting(const TempInstallation &station, int tickets = 3)
{
    bool ok =
        run(station.serverDatabase(), QStringLiteral("UPDATE \"Servizi\" SET \"Attesa\" = 4"));
    for (int i = 1; ok && i <= tickets; ++i)
        ok = run(
            station.serverDatabase(),
            QStringLiteral("INSERT INTO \"Codafromtotem\" (\"ServizioID\", \"SErvizio\", \"Ora\", "
                           "\"SeChiamato\", \"NrDaChiamare\") VALUES (1, 'Anagrafe ', '09.00.00', "
                           "FALSE, ?)"),
            {i});
    return ok;
}

// Initial numbers 100 + slot, so that every file gets its own value.
inline bool setInitialNumbers(const TempInstallation &station)
{
    bool ok = true;
    for (int slot = 1; ok && slot <= 20; ++slot)
        ok = run(
            station.localDatabase(),
            QStringLiteral("UPDATE NumerazioneIniziale SET P%1 = %2").arg(slot).arg(100 + slot));
    return ok;
}

inline int queueLength(const TempInstallation &station)
{
    return scalar(station.serverDatabase(),
                  QStringLiteral("SELECT COUNT(*) FROM \"Codafromtotem\""))
        .toInt();
}

// In table order, as the kiosk reads the rows.
inline QList<int> waitingCounts(const TempInstallation &station)
{
    QList<int> counts;
    auto db = Database::open(station.serverDatabase());
    auto services =
        db ? RecordSet::openTable(*db, QStringLiteral("Servizi")) : Result<RecordSet>(db.error());
    if (!services)
        return {-1};
    for (; !services->eof(); services->moveNext())
        counts.append(services->value(QStringLiteral("Attesa"))->toInt());
    return counts;
}

} // namespace nx7::test
