#pragma once

#include "errors.h"

#include <QString>

class QSqlError;

namespace nx7 {

// The reason of a system or database failure in the words an operator reads (Italian);
// the technical text of the system or of the database engine goes to the log only.
namespace SystemReason {

// "disco pieno", "permesso negato", "file bloccato da un'altra postazione", ...
QString fromErrno(int error);
// The same for a database engine's message ("database or disk is full", ...).
QString fromDatabaseText(const QString &technical);
QString fromSqlError(const QSqlError &error);

// An error about a file: `what` says what failed ("Impossibile scrivere il file %1"),
// followed by the reason; `number` is the error number handlers select on. The
// system's own text is logged.
Error fileError(int number, const QString &what, const QString &path, int error);

} // namespace SystemReason
} // namespace nx7
