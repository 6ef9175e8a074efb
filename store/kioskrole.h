#pragma once

#include "errors.h"

#include <QString>
#include <QStringList>

namespace nx7 {

// The database role the kiosks log in with on a PostgreSQL server database: the rights the
// kiosk uses and no more, so that a credential copied from a kiosk's disk cannot drop the
// shared tables, rename services or rewrite the queue the counter stations work from.
namespace KioskRole {

// Gives `role` (an existing login role) through `connectionString` (the owner's
// connection) exactly: SELECT on "Servizi" and "configurazioneTotem", UPDATE of the column
// "Attesa" of "Servizi", SELECT, INSERT and DELETE on "Codafromtotem" and USAGE of the
// sequence of its key, USAGE of the tables' schemas and CONNECT to the database.
// Whatever the role held on those tables before is taken back first, all in
// one transaction, so running it again gives the same rights. Refused for a superuser and
// for a role that owns one of the tables. The lines say what was granted, and warn when
// the role may create tables in a schema through PUBLIC.
Result<QStringList> grant(const QString &connectionString, const QString &role);

} // namespace KioskRole
} // namespace nx7
