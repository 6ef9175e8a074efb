#include "ticketpreview.h"

#include "escposprinter.h"
#include "reportengine.h"
#include "tables.h"
#include "ticketprinter.h"
#include "ticketprintjob.h"

#include <QDir>
#include <QPainter>

namespace nx7::TicketPreview {

namespace {

constexpr int kPageDotsPerInch = 300; // as the PDF file is written

QString cutName(EscPos::Cut cut)
{
    switch (cut) {
    case EscPos::Cut::Partial:
        return QStringLiteral("taglio parziale");
    case EscPos::Cut::Full:
        return QStringLiteral("taglio completo");
    case EscPos::Cut::None:
        break;
    }
    return QStringLiteral("senza taglio");
}

QImage pageImage(const QSizeF &pageSizeMm, const TicketPrinter::PagePainter &paintPage)
{
    const double dotsPerMm = kPageDotsPerInch / 25.4;
    QImage page(int(std::lround(pageSizeMm.width() * dotsPerMm)),
                int(std::lround(pageSizeMm.height() * dotsPerMm)), QImage::Format_RGB32);
    page.setDotsPerMeterX(int(std::lround(dotsPerMm * 1000)));
    page.setDotsPerMeterY(int(std::lround(dotsPerMm * 1000)));
    page.fill(Qt::white);
    QPainter painter(&page);
    paintPage(painter, 0);
    return page;
}

// Takes the ticket where the layout's printer would: the receipt printer's bytes, or the
// page. Always ready, so that the print run goes as far as the printer.
class KeepingPrinter final : public TicketPrinter, public Printers
{
public:
    explicit KeepingPrinter(Rendered &into) : m_into(into) {}

    TicketPrinter &printerFor(const PrintTarget &output) override
    {
        m_output = output;
        return *this;
    }
    Status ready() override { return {}; }

    Status print(const QSizeF &pageSizeMm, int, const QString &,
                 const PagePainter &paintPage) override
    {
        using K = PrintTarget::Kind;
        switch (m_output.kind) {
        case K::EscPos:
            return keepReceipt(pageSizeMm, paintPage);
        case K::DefaultPrinter:
            m_into.output = QStringLiteral("la stampante predefinita del servizio di stampa");
            break;
        case K::NamedPrinter:
            m_into.output =
                QStringLiteral("la stampante \"%1\" del servizio di stampa").arg(m_output.name);
            break;
        case K::PdfFile:
            m_into.output = QStringLiteral("il file PDF %1 (o il primo nome libero accanto)")
                                .arg(QDir::toNativeSeparators(m_output.name));
            break;
        }
        m_into.image = pageImage(pageSizeMm, paintPage);
        return {};
    }

private:
    Status keepReceipt(const QSizeF &pageSizeMm, const PagePainter &paintPage)
    {
        QString problem;
        const auto settings = EscPos::parseSettings(m_output.name, &problem);
        if (!settings)
            return Error::make(ErrorNumber::BadLayout, problem);
        m_into.receiptBytes = EscPosPrinter::ticketBytes(*settings, pageSizeMm, 1, paintPage);
        m_into.image = EscPos::rasterImage(m_into.receiptBytes);
        m_into.output = QStringLiteral("la stampante di ricevute %1 (%2 punti, %3)")
                            .arg(settings->address)
                            .arg(settings->dots)
                            .arg(cutName(settings->cut));
        return {};
    }

    Rendered &m_into;
    PrintTarget m_output;
};

} // namespace

ReportVariables sampleTicket(const QString &serviceName, const QDateTime &now)
{
    const auto column = [](const QString &name, const QString &type, const QVariant &value) {
        return TicketPrintJob::reportVariable(name, type, value);
    };
    const QString text = QStringLiteral("TEXT");
    const QString integer = QStringLiteral("INTEGER");
    return {column(Field::Id, integer, 1),
            column(Field::PrintedService, text, serviceName),
            column(Field::PrintedDate, text, now.date().toString(QStringLiteral("dd/MM/yyyy"))),
            column(Field::PrintedAhead, integer, 3),
            column(Field::PrintedTime, text, now.time().toString(QStringLiteral("hh.mm"))),
            column(Field::PrintedNumber, integer, 42)};
}

Result<Rendered> render(const QString &layoutPath, const ReportVariables &ticket)
{
    Rendered rendered;
    KeepingPrinter printer(rendered);
    ReportEngine engine(printer);
    const PrinterState state = engine.printerState(layoutPath);
    if (state.condition == PrinterState::Condition::LayoutUnusable)
        return Error::make(ErrorNumber::BadLayout,
                           QStringLiteral("%1: %2").arg(state.text(), state.detail));
    engine.setDefineVariablesHandler([&](qint32, qint32, qint32 &, qint32 &lastRecord) {
        for (const ReportVariable &variable : ticket) {
            qint32 typeCode = variable.typeCode;
            engine.defineVariable(variable.name, variable.contents, typeCode);
        }
        lastRecord = 1;
    });
    QString projectFile = layoutPath;
    if (Status printed =
            engine.printRun(0, ReportEngine::LabelProject, projectFile, 0,
                            ReportEngine::DirectToPrinter, 0, nullptr, QString(), 0, QString());
        !printed)
        return printed.error();
    return rendered;
}

} // namespace nx7::TicketPreview
