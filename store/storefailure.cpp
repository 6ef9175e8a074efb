#include "storefailure.h"

#include "storelog.h"
#include "systemreason.h"

#include <QSqlError>

namespace nx7 {

namespace {

// SQLite's primary result codes (the low byte of an extended code).
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteIoError = 10;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteProtocol = 15;

int primaryCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : -1;
}

std::optional<int> unavailableNumber(const QSqlError &error)
{
    switch (primaryCode(error)) {
    case kSqliteBusy:
    case kSqliteLocked:
    case kSqliteProtocol:
        return ErrorNumber::DatabaseLocked;
    case kSqliteFull:
        return ErrorNumber::DiskFull;
    case kSqliteIoError:
    case kSqliteCantOpen:
        return ErrorNumber::DiskOrNetworkError;
    default:
        break;
    }
    // Without a code (another driver), the texts SQLite uses for the same failures.
    const QString text = error.text();
    if (text.contains(QLatin1StringView("database is locked"), Qt::CaseInsensitive) ||
        text.contains(QLatin1StringView("database table is locked"), Qt::CaseInsensitive))
        return ErrorNumber::DatabaseLocked;
    if (text.contains(QLatin1StringView("disk is full"), Qt::CaseInsensitive))
        return ErrorNumber::DiskFull;
    if (text.contains(QLatin1StringView("disk I/O error"), Qt::CaseInsensitive) ||
        text.contains(QLatin1StringView("unable to open database file"), Qt::CaseInsensitive))
        return ErrorNumber::DiskOrNetworkError;
    return std::nullopt;
}

} // namespace

StoreFailure storeFailureOf(int errorNumber)
{
    switch (errorNumber) {
    case ErrorNumber::DatabaseLocked:
    case ErrorNumber::DiskFull:
    case ErrorNumber::DiskOrNetworkError:
    case ErrorNumber::CannotOpenDatabase:
    case ErrorNumber::DatabaseFileNotFound: // the share went away under a running kiosk
    case ErrorNumber::NotValidPath:
    case ErrorNumber::PathNotFound:
    case ErrorNumber::PathFileAccess:
    case ErrorNumber::PermissionDenied:
        return StoreFailure::Unavailable;
    default:
        return StoreFailure::Broken;
    }
}

std::optional<Error> unavailableSqlError(const QSqlError &error, const QString &what)
{
    const auto number = unavailableNumber(error);
    if (!number)
        return std::nullopt;
    // The same Italian reason the store gives for any other database failure.
    const QString description = QStringLiteral("Operazione sul database non riuscita: %1")
                                    .arg(SystemReason::fromSqlError(error));
    qCWarning(lcStore).noquote() << what << ":" << error.text().trimmed();
    return Error::make(*number, description);
}

} // namespace nx7
