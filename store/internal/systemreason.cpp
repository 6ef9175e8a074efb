#include "systemreason.h"

#include "storelog.h"

#include <QDir>
#include <QSqlError>

#include <cerrno>
#include <cstring>

namespace nx7::SystemReason {

QString fromErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("disco pieno");
    case EACCES:
    case EPERM:
        return QStringLiteral("permesso negato");
    case EROFS:
        return QStringLiteral("disco in sola lettura");
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("file bloccato da un'altra postazione");
    case ENOENT:
        return QStringLiteral("file o percorso non trovato");
    case ENOTDIR:
        return QStringLiteral("percorso non trovato");
    case EISDIR:
        return QStringLiteral("al suo posto c'è una cartella");
    case EIO:
        return QStringLiteral("errore di lettura o scrittura del disco");
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ETIMEDOUT:
        return QStringLiteral("connessione al server persa");
    case EMFILE:
    case ENFILE:
    case ENOMEM:
        return QStringLiteral("risorse del sistema esaurite");
    case ENAMETOOLONG:
        return QStringLiteral("nome del file troppo lungo");
    default:
        return QStringLiteral("errore di sistema %1").arg(error);
    }
}

QString fromDatabaseText(const QString &technical)
{
    const auto has = [&technical](const char *words) {
        return technical.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    if (has("full"))
        return QStringLiteral("disco pieno");
    if (has("locked") || has("busy"))
        return QStringLiteral("database bloccato da un'altra postazione");
    if (has("readonly") || has("read-only") || has("permission") || has("access denied"))
        return QStringLiteral("permesso negato");
    if (has("unable to open") || has("no such file"))
        return QStringLiteral("file del database non raggiungibile");
    if (has("disk i/o") || has("i/o error"))
        return QStringLiteral("errore di lettura o scrittura del disco");
    if (has("malformed") || has("corrupt") || has("not a database"))
        return QStringLiteral("file del database danneggiato");
    if (has("constraint"))
        return QStringLiteral("dati non accettati dal database");
    if (has("connection") || has("server closed") || has("could not connect"))
        return QStringLiteral("connessione al server persa");
    return QStringLiteral("errore del database");
}

QString fromSqlError(const QSqlError &error)
{
    return fromDatabaseText(error.text());
}

Error fileError(int number, const QString &what, const QString &path, int error)
{
    const QString shown = QDir::toNativeSeparators(path);
    qCWarning(lcStore).noquote() << what.arg(shown) << "-" << std::strerror(error);
    return Error::make(number, what.arg(shown) + QStringLiteral(": ") + fromErrno(error));
}

} // namespace nx7::SystemReason
