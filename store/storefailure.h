#pragma once

#include "errors.h"

#include <optional>

class QSqlError;

namespace nx7 {

namespace ErrorNumber {
constexpr int DiskFull = 3026;
constexpr int DiskOrNetworkError = 3043;
constexpr int DatabaseLocked = 3218;
} // namespace ErrorNumber

// What a failed store operation says about the installation: busy or out of reach for a
// while (another station's lock, a share gone, a full disk) or broken (a missing table or
// column, a value that does not fit), which no waiting mends.
enum class StoreFailure
{
    Unavailable,
    Broken
};

StoreFailure storeFailureOf(int errorNumber);

// A database driver failure that means "busy or unreachable", as an error of its own
// number; nothing for every other failure, which the caller reports as it always has.
std::optional<Error> unavailableSqlError(const QSqlError &error, const QString &what);

} // namespace nx7
