#include "reportengine.h"

#include "filenames.h"
#include "reportlog.h"
#include "ticketprinter.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>

namespace nx7 {

ReportEngine::ReportEngine(Printers &printers) : m_printers(printers) {}

void ReportEngine::setDefineVariablesHandler(DefineVariablesHandler handler)
{
    m_handler = std::move(handler);
}

qint32 ReportEngine::defineVariable(const QString &name, const QString &contents, qint32 &typeCode)
{
    if (m_labels.isEmpty())
        m_labels.append(ReportVariables());
    ReportVariables &label = m_labels.last();
    for (ReportVariable &variable : label) {
        if (variable.name.compare(name, Qt::CaseInsensitive) == 0) {
            variable.contents = contents;
            variable.typeCode = typeCode;
            return 0;
        }
    }
    label.append(ReportVariable{name, contents, typeCode});
    return 0;
}

namespace {
// A layout that was read but cannot be used (a bad output line) is named with its line, so
// that staff do not go looking for a file that is there and readable.
QString unusableLayoutReason(const Error &error, const QString &path)
{
    if (error.number == ErrorNumber::BadLayout)
        return error.description;
    return QStringLiteral("il layout %1 non si può leggere")
        .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
}
} // namespace

QString ReportEngine::layoutPath(const QString &projectFile) const
{
    return QFileInfo(projectFile).isAbsolute() ? projectFile : FilePath::local(projectFile);
}

Status ReportEngine::checkReady(const QString &projectFile)
{
    const QString path = layoutPath(projectFile);
    auto layout = TicketLayout::load(path);
    if (!layout)
        return Error::make(layout.errorNumber(), unusableLayoutReason(layout.error(), path));
    // The fields of a PDF file name only ever change the name, never the folder.
    return m_printers.printerFor(layout->target({})).ready();
}

PrinterState ReportEngine::printerState(const QString &projectFile)
{
    const QString path = layoutPath(projectFile);
    auto layout = TicketLayout::load(path);
    if (!layout)
        return PrinterState{PrinterState::Condition::LayoutUnusable,
                            unusableLayoutReason(layout.error(), path)};
    return m_printers.printerFor(layout->target({})).state();
}

Status ReportEngine::printRun(qint32 userData, qint32 projectType, QString &projectFile,
                              qint32 fileSelectionDialog, qint32 printOptions, qint32 boxType,
                              QWidget *parent, const QString &title, qint32 printOptionsDialog,
                              const QString &tempFolder)
{
    // This engine has no dialogs, previews or progress boxes: the kiosk never asks for them.
    Q_UNUSED(fileSelectionDialog);
    Q_UNUSED(boxType);
    Q_UNUSED(parent);
    Q_UNUSED(printOptionsDialog);
    Q_UNUSED(tempFolder);
    if (projectType != LabelProject || printOptions != DirectToPrinter)
        qCWarning(lcReport) << "print run with project type" << projectType << "and options"
                            << printOptions << ": printing a label directly anyway";
    m_labels.clear();
    m_lastFailure.clear();
    if (!m_handler) {
        qCWarning(lcReport) << "print run without a variable handler: nothing printed";
        return Error::make(ErrorNumber::InvalidProcedureCall,
                           QStringLiteral("Stampa senza gestore delle variabili."));
    }

    const QString path = layoutPath(projectFile);
    QStringList warnings;
    auto layout = TicketLayout::load(path, &warnings);
    if (!layout) {
        qCWarning(lcReport).noquote()
            << "ticket not printed: layout"
            << QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()) << "cannot be read ("
            << layout.error().number << layout.error().description << ")";
        return layout.error();
    }
    for (const QString &warning : std::as_const(warnings))
        qCWarning(lcReport).noquote() << "ticket layout" << projectFile << warning;

    // Gather every label's variables first; the handler says when it gave the last row.
    for (;;) {
        if (m_labels.size() >= kMaxLabels) {
            qCWarning(lcReport) << "print run stopped: no last record after" << kMaxLabels
                                << "labels";
            return Error::make(
                ErrorNumber::InvalidProcedureCall,
                QStringLiteral("Stampa interrotta dopo %1 etichette.").arg(kMaxLabels));
        }
        m_labels.append(ReportVariables());
        qint32 percent = 0;
        qint32 lastRecord = 0;
        m_handler(userData, 0, percent, lastRecord);
        if (lastRecord != 0)
            break;
    }

    const PrintTarget target = layout->target(m_labels.constFirst());
    const TicketLayout &pages = *layout;
    const QString jobName = title.isEmpty() ? QStringLiteral("Ticket") : title;
    const Status status = m_printers.printerFor(target).print(
        pages.pageSize, int(m_labels.size()), jobName,
        [&](QPainter &painter, int page) { renderTicket(painter, pages, m_labels.at(page)); });
    if (!status) {
        qCWarning(lcReport).noquote() << "ticket not printed:" << status.error().description;
        m_lastFailure = status.error().description;
        return status;
    }
    return {};
}

} // namespace nx7
