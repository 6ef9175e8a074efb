#include "errors.h"

namespace nx7 {

Error Error::make(int number, const QString &detail)
{
    return Error{number, detail.isEmpty() ? standardDescription(number) : detail};
}

QString Error::standardDescription(int number)
{
    switch (number) {
    case ErrorNumber::Overflow:
        return QStringLiteral("Overflow");
    case ErrorNumber::TypeMismatch:
        return QStringLiteral("Tipo non corrispondente");
    case ErrorNumber::FileNotFound:
        return QStringLiteral("Impossibile trovare il file");
    case ErrorNumber::PermissionDenied:
        return QStringLiteral("Autorizzazione negata");
    case ErrorNumber::PathFileAccess:
        return QStringLiteral("Errore di accesso al percorso/file");
    case ErrorNumber::PathNotFound:
        return QStringLiteral("Impossibile trovare il percorso");
    case ErrorNumber::InvalidUseOfNull:
        return QStringLiteral("Utilizzo non valido di Null");
    case ErrorNumber::NoCurrentRecord:
        return QStringLiteral("Nessun record corrente.");
    case ErrorNumber::DatabaseFileNotFound:
        return QStringLiteral("Impossibile trovare il file di database.");
    case ErrorNumber::NotValidPath:
        return QStringLiteral("Percorso non valido.");
    case ErrorNumber::CannotOpenDatabase:
        return QStringLiteral("Impossibile aprire il database.");
    case ErrorNumber::TableNotFound:
        return QStringLiteral("Impossibile trovare la tabella di input o la query.");
    case ErrorNumber::ItemNotFound:
        return QStringLiteral("Elemento non trovato in questo insieme.");
    case ErrorNumber::UnrecognizedDatabaseFormat:
        return QStringLiteral("Formato di database non riconosciuto.");
    case ErrorNumber::DatabaseOperationFailed:
        return QStringLiteral("Operazione sul database non riuscita.");
    case ErrorNumber::NoPermission:
        return QStringLiteral("Permessi insufficienti sul server.");
    default:
        return QStringLiteral("Errore definito dall'applicazione o dall'oggetto");
    }
}

} // namespace nx7
