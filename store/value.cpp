#include "database.h"

#include <cmath>
#include <limits>

namespace nx7 {

bool Value::isNull(const QVariant &value)
{
    return !value.isValid() || value.isNull();
}

bool Value::isTrue(const QVariant &value)
{
    if (isNull(value))
        return false;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong() != 0;
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    default:
        return false;
    }
}

Result<qint32> Value::toInt32(const QVariant &value)
{
    if (isNull(value))
        return Error::make(ErrorNumber::InvalidUseOfNull);
    double number = 0;
    if (value.metaType().id() == QMetaType::QString) {
        bool ok = false;
        number = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            return Error::make(ErrorNumber::TypeMismatch);
    } else {
        bool ok = false;
        number = value.toDouble(&ok);
        if (!ok)
            return Error::make(ErrorNumber::TypeMismatch);
    }
    const double rounded = std::nearbyint(number); // half to even in the default mode
    if (!std::isfinite(rounded) || rounded > std::numeric_limits<qint32>::max() ||
        rounded < std::numeric_limits<qint32>::min())
        return Error::make(ErrorNumber::Overflow);
    return static_cast<qint32>(rounded);
}

} // namespace nx7
