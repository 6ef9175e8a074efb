#pragma once

#include "errors.h"
#include "startuplog.h"

namespace nx7 {

// The operator's words for an error, short enough for a line of the message form, with the
// error's number kept for the handlers; the store's own description goes to the log.
inline Error operatorError(const Error &cause, const QString &text)
{
    qCWarning(lcStartup).noquote() << text << "cause: error" << cause.number << cause.description;
    return Error{cause.number, text};
}

} // namespace nx7
