#pragma once

#include "errors.h"
#include "printtarget.h"
#include "reportvariable.h"

#include <QDateTime>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

class QPaintDevice;
class QPainter;

namespace nx7 {

namespace ErrorNumber {
// A layout that names no usable output: nothing may be printed with it.
constexpr int BadLayout = 321;
} // namespace ErrorNumber

// The widest a {Variable:N} field may be.
constexpr int kMaxFieldWidth = 200;

// One element of a ticket layout; positions and sizes in millimetres.
struct LayoutItem
{
    enum class Kind
    {
        Text,
        Line,
        Box,
        Picture
    };
    Kind kind = Kind::Text;
    QRectF rect;     // a line runs from rect.topLeft() to rect.bottomRight()
    QString content; // text with {Variable} fields, or a picture file
    QString fontFamily = QStringLiteral("DejaVu Sans");
    qreal pointSize = 10;
    bool bold = false;
    bool italic = false;
    int alignment = 0x0001; // Qt::AlignLeft
    bool fit = false;       // shrink the font until the text fits the width
    bool wrap = false;
    int maxLines = 2;     // with fit and wrap: lines the text may take before it shrinks
    qreal penWidth = 0.3; // lines and boxes
    int sourceLine = 0;
};

// A ticket layout file ("Ticket.lbl"); the format is described in LAYOUT.md.
struct TicketLayout
{
    QSizeF pageSize{80, 100}; // millimetres
    PrintTarget::Kind outputKind = PrintTarget::Kind::DefaultPrinter;
    QString outputName; // printer name, PDF path (may hold {Variable} fields) or ESC/POS
    QList<LayoutItem> items;
    // Why no ticket may be printed with this layout (an output line that cannot be used:
    // another printer must never take its place); empty when it can.
    QString unusable;

    // Lines that cannot be understood are skipped and described in `warnings`.
    static TicketLayout parse(const QString &text, QStringList *warnings = nullptr);
    // 53 when the file is missing, 70 when it cannot be read, BadLayout when it is unusable.
    static Result<TicketLayout> load(const QString &path, QStringList *warnings = nullptr);

    // The output of one ticket, fields of the PDF path filled from its variables.
    PrintTarget target(const ReportVariables &variables) const;
};

// Replaces "{Name}" and "{Name:format}" by the contents of the variable of that name
// (names match without regard to case); "{{" and "}}" stand for single braces.
// Formats: N (right-aligned in N characters), 0N (zero-padded number), -N (left-aligned),
// date and time (a day count shown as "dd/mm/yyyy" or "hh.mm"), minN (a number below N
// shown as N).
QString substituteVariables(const QString &text, const ReportVariables &variables,
                            QStringList *unknown = nullptr);

// The fields of `text` whose format is not understood or out of bounds.
QStringList invalidFieldFormats(const QString &text);

// The day count of a date variable as a date and time (days since 30 December 1899).
QDateTime dateTimeFromDayCount(double days);

// The point size at which a `fit` text fits its box on the device: its own size when it
// does, otherwise smaller. A `wrap` text first takes up to `maxLines` lines of the box.
qreal fittedPointSize(const LayoutItem &item, const QString &text, const QSizeF &box,
                      const QPaintDevice *device);

// Paints one ticket on the painter's device, which is one page of layout.pageSize.
void renderTicket(QPainter &painter, const TicketLayout &layout, const ReportVariables &variables);

} // namespace nx7
