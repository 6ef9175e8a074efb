#include "counterstation.h"

namespace nx7::test {

Result<bool> callOldestTicket(Database &db)
{
    const bool pg = db.isPostgres();
    if (Status begun = db.beginTransaction(); !begun)
        return begun.error();
    auto oldest = db.select(pg ? QStringLiteral("SELECT \"ID\", \"ServizioID\" FROM "
                                                "\"Codafromtotem\" WHERE NOT \"SeChiamato\" "
                                                "ORDER BY \"ID\" LIMIT 1 FOR UPDATE SKIP LOCKED")
                               : QStringLiteral("SELECT rowid, \"ServizioID\" FROM "
                                                "\"Codafromtotem\" WHERE \"SeChiamato\" = 0 "
                                                "ORDER BY rowid LIMIT 1"));
    Status status = oldest ? Status{} : Status(oldest.error());
    const bool found = status && !oldest->isEmpty();
    if (found) {
        const QVariantList row = oldest->first();
        status = db.exec(
            pg ? QStringLiteral(
                     "UPDATE \"Codafromtotem\" SET \"SeChiamato\" = true WHERE \"ID\" = ?")
               : QStringLiteral("UPDATE \"Codafromtotem\" SET \"SeChiamato\" = -1 WHERE rowid = ?"),
            {row.at(0)});
        if (status)
            status = db.exec(QStringLiteral("UPDATE \"Servizi\" SET \"Attesa\" = \"Attesa\" - 1 "
                                            "WHERE \"ID\" = ? AND \"Attesa\" > 0"),
                             {row.at(1)});
    }
    if (status)
        status = db.commit();
    if (!status) {
        db.rollback();
        return status.error();
    }
    return found;
}

} // namespace nx7::test
