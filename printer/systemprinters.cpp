#include "systemprinters.h"

#include "escposprinter.h"
#include "pdfprinter.h"
#include "queueprinter.h"

namespace nx7 {

namespace {

// An output that no printer can serve: it says so at every call and prints nothing.
class UnusablePrinter final : public TicketPrinter
{
public:
    explicit UnusablePrinter(QString reason) : m_reason(std::move(reason)) {}

    Status print(const QSizeF &, int, const QString &, const PagePainter &) override
    {
        return ready();
    }
    Status ready() override { return Error::make(ErrorNumber::PrinterError, m_reason); }

private:
    QString m_reason;
};

std::optional<EscPos::Settings> escposSettings(const PrintTarget &output, QString *problem)
{
    if (output.kind != PrintTarget::Kind::EscPos)
        return std::nullopt;
    return EscPos::parseSettings(output.name, problem);
}

} // namespace

SystemPrinters::SystemPrinters() = default;
SystemPrinters::~SystemPrinters() = default;

TicketPrinter &SystemPrinters::printerFor(const PrintTarget &output)
{
    if (!m_printer || m_output != output) {
        m_printer = make(output);
        m_output = output;
    }
    return *m_printer;
}

std::unique_ptr<TicketPrinter> SystemPrinters::make(const PrintTarget &output)
{
    using K = PrintTarget::Kind;
    switch (output.kind) {
    case K::DefaultPrinter:
        return std::make_unique<QueuePrinter>();
    case K::NamedPrinter:
        return std::make_unique<QueuePrinter>(output.name);
    case K::PdfFile:
        return std::make_unique<PdfFilePrinter>(output.name);
    case K::EscPos:
        if (const auto settings = escposSettings(output, nullptr))
            return std::make_unique<EscPosPrinter>(*settings);
        break;
    }
    return std::make_unique<UnusablePrinter>(
        QStringLiteral("uscita escpos non valida: %1").arg(output.name));
}

QString SystemPrinters::problemOf(const PrintTarget &output)
{
    QString problem;
    if (output.kind == PrintTarget::Kind::EscPos && !escposSettings(output, &problem))
        return problem;
    return QString();
}

std::optional<int> SystemPrinters::dotsAcross(const PrintTarget &output)
{
    if (const auto settings = escposSettings(output, nullptr))
        return settings->dots;
    return std::nullopt;
}

} // namespace nx7
