#pragma once

#include <QList>
#include <QString>

namespace nx7 {

// Type codes of report variables, as the ticket layouts and older print rows know them.
namespace VariableType {
constexpr qint32 Boolean = 0x02000000; // 33554432
constexpr qint32 Date = 0x04000002;    // 67108866: contents are a day count
constexpr qint32 Numeric = 0x08000000; // 134217728
constexpr qint32 Text = 0x10000000;    // 268435456
} // namespace VariableType

// One named, typed value a layout can print.
struct ReportVariable
{
    QString name;
    QString contents;
    qint32 typeCode = VariableType::Text;

    bool operator==(const ReportVariable &) const = default;
};

using ReportVariables = QList<ReportVariable>;

} // namespace nx7
