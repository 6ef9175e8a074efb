#pragma once

// Field names as every store finds them: without regard to case. Used by the store only.

#include "errors.h"

#include <QString>
#include <QStringList>

namespace nx7 {

inline int indexOfField(const QStringList &fields, const QString &name)
{
    for (int i = 0; i < fields.size(); ++i) {
        if (fields.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

inline Error fieldNotFound(const QString &name)
{
    return Error::make(ErrorNumber::ItemNotFound,
                       QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(name));
}

} // namespace nx7
