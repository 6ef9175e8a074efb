#pragma once

#include "errors.h"
#include "printerstate.h"
#include "reportvariable.h"
#include "ticketlayout.h"

#include <QList>
#include <QString>

#include <functional>

class QWidget;

namespace nx7 {

class Printers;

namespace ErrorNumber {
constexpr int InvalidProcedureCall = 5;
} // namespace ErrorNumber

// The kiosk's label printer: loads a layout, gathers one set of named, typed variables
// per label through a callback, and prints one page per label.
class ReportEngine
{
public:
    // Raised once per label on the caller's thread, before printRun returns; the handler
    // defines the label's variables and sets lastRecord to 1 on the last label.
    using DefineVariablesHandler =
        std::function<void(qint32 userData, qint32 flag, qint32 &percent, qint32 &lastRecord)>;

    // The values the kiosk passes to a print run.
    static constexpr qint32 LabelProject = 1;
    static constexpr qint32 DirectToPrinter = 256;

    // Each call hands its pages, or its question, to the printer of the layout's output.
    explicit ReportEngine(Printers &printers);

    void setDefineVariablesHandler(DefineVariablesHandler handler);

    // Defines or replaces a variable of the label being gathered; 0 when accepted.
    qint32 defineVariable(const QString &name, const QString &contents, qint32 &typeCode);

    // Prints the labels of `projectFile` (relative names are taken in the current
    // directory, matched without regard to case). Failures are logged and returned: the
    // layout's or the printer's own error, or 5 (invalid call) for a run without a
    // variable handler or whose handler never gives the last label.
    Status printRun(qint32 userData, qint32 projectType, QString &projectFile,
                    qint32 fileSelectionDialog, qint32 printOptions, qint32 boxType,
                    QWidget *parent, const QString &title, qint32 printOptionsDialog,
                    const QString &tempFolder);

    // Whether a label of `projectFile` could be printed now, before any variable is known:
    // the layout is readable and its printer or PDF folder is ready.
    Status checkReady(const QString &projectFile);
    // The state of the printer of `projectFile` for the kiosk screen; LayoutUnusable when
    // the layout cannot be read.
    PrinterState printerState(const QString &projectFile);
    // Why the last print run did not print; empty when it did.
    const QString &lastFailure() const { return m_lastFailure; }

    // The variables of each label of the last print run, in definition order.
    const QList<ReportVariables> &lastRunLabels() const { return m_labels; }

    static constexpr int kMaxLabels = 1000;

private:
    QString layoutPath(const QString &projectFile) const;

    Printers &m_printers;
    DefineVariablesHandler m_handler;
    QList<ReportVariables> m_labels;
    QString m_lastFailure;
};

} // namespace nx7
