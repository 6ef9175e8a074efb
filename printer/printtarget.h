#pragma once

#include <QString>

namespace nx7 {

namespace ErrorNumber {
constexpr int PrinterError = 482;
// The print service answers but has no default queue for a layout that prints there.
constexpr int NoDefaultPrinter = 483;
} // namespace ErrorNumber

// Where a printed ticket goes: the output line of a layout.
struct PrintTarget
{
    enum class Kind
    {
        DefaultPrinter,
        NamedPrinter,
        PdfFile,
        EscPos // a receipt printer spoken to directly
    };
    Kind kind = Kind::DefaultPrinter;
    // The printer name, the PDF file path, or the receipt printer's address and options
    // ("tcp://10.0.0.5:9100 dots=576 cut=partial").
    QString name;

    bool operator==(const PrintTarget &) const = default;
};

} // namespace nx7
