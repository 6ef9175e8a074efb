#include "ticketlayout.h"

#include "dither.h"
#include "reportlog.h"
#include "systemprinters.h"
#include "textrecord.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QPaintDevice>
#include <QPainter>
#include <QSet>

#include <cmath>

namespace nx7 {

namespace {

// Splits "a=1 font="DejaVu Sans" bold" into words; double quotes group blanks.
QStringList words(const QString &text)
{
    QStringList result;
    QString current;
    bool quoted = false;
    bool any = false;
    for (const QChar c : text) {
        if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c.isSpace() && !quoted) {
            if (any)
                result.append(current);
            current.clear();
            any = false;
        } else {
            current.append(c);
            any = true;
        }
    }
    if (any)
        result.append(current);
    return result;
}

// Bounds of what a layout may ask for: far beyond any ticket, yet small enough that no
// value can make the kiosk allocate more than a few tens of MB or loop for long.
constexpr qreal kMinPageMm = 10;
constexpr qreal kMaxPageMm = 1000;
constexpr qreal kMaxPositionMm = 1000; // positions and sizes of the elements
constexpr qreal kMaxPenMm = 50;
constexpr qreal kMaxPointSize = 400;
constexpr int kMaxLines = 100;
// A receipt printer's page as a picture, one byte a dot while it is drawn.
constexpr qint64 kMaxRasterDots = qint64(4096) * 8192;

constexpr int kMaxPictureMB = 32;

// False for NaN too.
bool within(qreal value, qreal low, qreal high)
{
    return value >= low && value <= high;
}

struct Options
{
    QHash<QString, QString> values;
    QSet<QString> flags;
    QStringList problems;

    qreal number(const QString &key, qreal fallback)
    {
        const auto it = values.constFind(key);
        if (it == values.cend())
            return fallback;
        bool ok = false;
        const qreal value = it->toDouble(&ok);
        if (!ok) {
            problems.append(QStringLiteral("%1=%2 is not a number").arg(key, *it));
            return fallback;
        }
        return value;
    }
};

Options options(const QString &text)
{
    Options result;
    for (const QString &word : words(text)) {
        const qsizetype eq = word.indexOf(u'=');
        if (eq > 0)
            result.values.insert(word.left(eq).toLower(), word.mid(eq + 1));
        else
            result.flags.insert(word.toLower());
    }
    return result;
}

int alignmentOf(const QString &name, bool *ok)
{
    *ok = true;
    if (name.isEmpty() || name == u"left")
        return Qt::AlignLeft;
    if (name == u"center" || name == u"centre")
        return Qt::AlignHCenter;
    if (name == u"right")
        return Qt::AlignRight;
    *ok = false;
    return Qt::AlignLeft;
}

// Keeps only characters a file name may carry.
QString fileNameSafe(const QString &text)
{
    QString result = text.trimmed();
    for (QChar &c : result) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' || c == u'"' ||
            c == u'<' || c == u'>' || c == u'|' || c.isSpace())
            c = u'-';
    }
    return result;
}

QString formatted(const QString &contents, const QString &format, bool *ok)
{
    *ok = true;
    if (format.isEmpty())
        return contents;
    if (format == u"date" || format == u"time") {
        bool number = false;
        const double days = contents.toDouble(&number);
        if (!number)
            return contents;
        const QDateTime when = dateTimeFromDayCount(days);
        return when.toString(format == u"date" ? QStringLiteral("dd/MM/yyyy")
                                               : QStringLiteral("hh.mm"));
    }
    if (format.startsWith(u"min")) {
        // "min0": a count below the floor (the counters ahead of the kiosk) shows the floor.
        bool isFloor = false;
        const qlonglong floor = format.mid(3).toLongLong(&isFloor);
        bool isNumber = false;
        const double value = contents.toDouble(&isNumber);
        if (!isFloor) {
            *ok = false;
            return contents;
        }
        return isNumber && value < double(floor) ? QString::number(floor) : contents;
    }
    bool isWidth = false;
    const int width = format.toInt(&isWidth);
    if (!isWidth || width < -kMaxFieldWidth || width > kMaxFieldWidth) {
        *ok = false;
        return contents;
    }
    if (format.startsWith(u'-'))
        return contents.leftJustified(-width, u' ');
    if (format.startsWith(u'0') && format.size() > 1) {
        const bool negative = contents.startsWith(u'-');
        const QString digits = negative ? contents.mid(1) : contents;
        return (negative ? QStringLiteral("-") : QString()) +
               digits.rightJustified(width - (negative ? 1 : 0), u'0');
    }
    return contents.rightJustified(width, u' ');
}

const ReportVariable *findVariable(const ReportVariables &variables, const QString &name)
{
    for (const ReportVariable &variable : variables) {
        if (variable.name.compare(name, Qt::CaseInsensitive) == 0)
            return &variable;
    }
    return nullptr;
}

} // namespace

QDateTime dateTimeFromDayCount(double days)
{
    // Before the epoch the whole part counts back while the fraction still runs forward.
    const double whole = std::trunc(days);
    const double fraction = std::abs(days - whole);
    const QDate date = QDate(1899, 12, 30).addDays(qint64(whole));
    const qint64 msecs = std::llround(fraction * 86400000.0);
    return QDateTime(date, QTime(0, 0)).addMSecs(msecs);
}

namespace {

QString substitute(const QString &text, const ReportVariables &variables, QStringList *unknown,
                   QStringList *badFormats)
{
    QString result;
    result.reserve(text.size() + 16);
    qsizetype pos = 0;
    while (pos < text.size()) {
        const QChar c = text.at(pos);
        if ((c == u'{' || c == u'}') && pos + 1 < text.size() && text.at(pos + 1) == c) {
            result.append(c);
            pos += 2;
            continue;
        }
        const qsizetype close = c == u'{' ? text.indexOf(u'}', pos + 1) : -1;
        if (close < 0) {
            result.append(c);
            ++pos;
            continue;
        }
        const QString field = text.mid(pos + 1, close - pos - 1);
        const qsizetype colon = field.indexOf(u':');
        const QString name = (colon < 0 ? field : field.left(colon)).trimmed();
        const QString format = colon < 0 ? QString() : field.mid(colon + 1).trimmed().toLower();
        const ReportVariable *variable = findVariable(variables, name);
        if (!variable && unknown)
            unknown->append(name);
        bool ok = true;
        result.append(formatted(variable ? variable->contents : QString(), format, &ok));
        if (!ok && badFormats)
            badFormats->append(field);
        pos = close + 1;
    }
    return result;
}

} // namespace

QString substituteVariables(const QString &text, const ReportVariables &variables,
                            QStringList *unknown)
{
    return substitute(text, variables, unknown, unknown);
}

QStringList invalidFieldFormats(const QString &text)
{
    QStringList bad;
    substitute(text, {}, nullptr, &bad);
    return bad;
}

namespace {

bool withinPage(const QRectF &rect)
{
    for (const qreal value : {rect.x(), rect.y(), rect.width(), rect.height()}) {
        if (!within(value, -kMaxPositionMm, kMaxPositionMm))
            return false;
    }
    return true;
}

// A page that a receipt printer's width turns into too large a picture (a narrow, very
// long page at many dots) is refused like any other bad page line: the default page stays.
void checkRasterSize(TicketLayout &layout, int pageLine, QStringList *warnings)
{
    const auto dots = SystemPrinters::dotsAcross(PrintTarget{layout.outputKind, layout.outputName});
    const auto dotsOf = [&](const QSizeF &page) {
        return qint64(*dots) * std::llround(page.height() * *dots / page.width());
    };
    if (!dots || dotsOf(layout.pageSize) <= kMaxRasterDots)
        return;
    if (warnings)
        warnings->append(QStringLiteral("line %1: page %2 x %3 mm at %4 dots across is too "
                                        "large a picture for the receipt printer")
                             .arg(pageLine)
                             .arg(layout.pageSize.width())
                             .arg(layout.pageSize.height())
                             .arg(*dots));
    layout.pageSize = TicketLayout().pageSize;
}

} // namespace

TicketLayout TicketLayout::parse(const QString &text, QStringList *warnings)
{
    TicketLayout layout;
    layout.items.clear();
    int pageLine = 0;
    const QStringList lines = text.split(u'\n');
    for (int number = 1; number <= lines.size(); ++number) {
        QString line = lines.at(number - 1);
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        const qsizetype bar = trimmed.indexOf(u'|');
        const QString head = bar < 0 ? trimmed : trimmed.left(bar).trimmed();
        QString tail = bar < 0 ? QString() : trimmed.mid(bar + 1);
        if (tail.startsWith(u' '))
            tail.remove(0, 1);
        const qsizetype space = head.indexOf(u' ');
        const QString keyword = (space < 0 ? head : head.left(space)).toLower();
        const QString rest = space < 0 ? QString() : head.mid(space + 1).trimmed();
        QStringList problems;

        if (keyword == u"page") {
            const QStringList sizes = words(rest);
            bool okW = false;
            bool okH = false;
            const qreal w = sizes.value(0).toDouble(&okW);
            const qreal h = sizes.value(1).toDouble(&okH);
            if (sizes.size() == 2 && okW && okH && within(w, kMinPageMm, kMaxPageMm) &&
                within(h, kMinPageMm, kMaxPageMm)) {
                layout.pageSize = QSizeF(w, h);
                pageLine = number;
            } else {
                problems.append(QStringLiteral("page needs a width and a height in mm, each "
                                               "from %1 to %2")
                                    .arg(kMinPageMm)
                                    .arg(kMaxPageMm));
            }
        } else if (keyword == u"output") {
            // The rest of the line after the kind is the name, blanks included.
            const QString body = trimmed.mid(6).trimmed();
            const qsizetype gap = body.indexOf(u' ');
            const QString kind = (gap < 0 ? body : body.left(gap)).toLower();
            const QString name = gap < 0 ? QString() : body.mid(gap + 1).trimmed();
            const QString escposProblem =
                kind == u"escpos"
                    ? SystemPrinters::problemOf(PrintTarget{PrintTarget::Kind::EscPos, name})
                    : QString();
            if (kind == u"default" && name.isEmpty()) {
                layout.outputKind = PrintTarget::Kind::DefaultPrinter;
                layout.outputName.clear();
            } else if (kind == u"printer" && !name.isEmpty()) {
                layout.outputKind = PrintTarget::Kind::NamedPrinter;
                layout.outputName = name;
            } else if (kind == u"pdf" && !name.isEmpty()) {
                layout.outputKind = PrintTarget::Kind::PdfFile;
                layout.outputName = name;
            } else if (kind == u"escpos" && escposProblem.isEmpty()) {
                layout.outputKind = PrintTarget::Kind::EscPos;
                layout.outputName = name;
            } else {
                problems.append(kind == u"escpos"
                                    ? escposProblem
                                    : QStringLiteral("output must be 'default', 'printer NAME', "
                                                     "'pdf PATH' or 'escpos TARGET'"));
                // Never another printer than the one the layout names.
                layout.unusable = QStringLiteral("line %1: %2").arg(number).arg(problems.last());
            }
        } else if (keyword == u"text" || keyword == u"box" || keyword == u"picture" ||
                   keyword == u"line") {
            Options opts = options(rest);
            LayoutItem item;
            item.sourceLine = number;
            if (keyword == u"line") {
                item.kind = LayoutItem::Kind::Line;
                item.rect = QRectF(QPointF(opts.number(QStringLiteral("x1"), 0),
                                           opts.number(QStringLiteral("y1"), 0)),
                                   QPointF(opts.number(QStringLiteral("x2"), 0),
                                           opts.number(QStringLiteral("y2"), 0)));
            } else {
                item.kind = keyword == u"text"  ? LayoutItem::Kind::Text
                            : keyword == u"box" ? LayoutItem::Kind::Box
                                                : LayoutItem::Kind::Picture;
                item.rect =
                    QRectF(opts.number(QStringLiteral("x"), 0), opts.number(QStringLiteral("y"), 0),
                           opts.number(QStringLiteral("w"), layout.pageSize.width()),
                           opts.number(QStringLiteral("h"), 10));
            }
            item.penWidth = opts.number(QStringLiteral("width"), item.penWidth);
            item.pointSize = opts.number(QStringLiteral("size"), item.pointSize);
            item.fontFamily = opts.values.value(QStringLiteral("font"), item.fontFamily);
            item.bold = opts.flags.contains(QStringLiteral("bold"));
            item.italic = opts.flags.contains(QStringLiteral("italic"));
            item.fit = opts.flags.contains(QStringLiteral("fit"));
            item.wrap = opts.flags.contains(QStringLiteral("wrap"));
            const qreal lines = opts.number(QStringLiteral("lines"), item.maxLines);
            if (within(lines, 1, kMaxLines))
                item.maxLines = int(lines);
            else
                problems.append(QStringLiteral("lines must be from 1 to %1").arg(kMaxLines));
            bool alignOk = true;
            item.alignment =
                alignmentOf(opts.values.value(QStringLiteral("align")).toLower(), &alignOk);
            if (!alignOk)
                problems.append(QStringLiteral("align must be left, center or right"));
            item.content = tail;
            if (item.kind == LayoutItem::Kind::Picture && item.content.trimmed().isEmpty())
                problems.append(QStringLiteral("picture needs '| file'"));
            if (!(item.pointSize > 0 && item.pointSize <= kMaxPointSize))
                problems.append(
                    QStringLiteral("size must be above 0 and at most %1").arg(kMaxPointSize));
            if (!within(item.penWidth, 0, kMaxPenMm))
                problems.append(QStringLiteral("width must be from 0 to %1 mm").arg(kMaxPenMm));
            if (!withinPage(item.rect))
                problems.append(
                    QStringLiteral("positions and sizes must be within %1 mm").arg(kMaxPositionMm));
            for (const QString &field : invalidFieldFormats(item.content))
                problems.append(QStringLiteral("{%1}: format not understood (widths up to %2)")
                                    .arg(field)
                                    .arg(kMaxFieldWidth));
            problems += opts.problems;
            if (problems.isEmpty())
                layout.items.append(item);
        } else {
            problems.append(QStringLiteral("unknown keyword '%1'").arg(keyword));
        }
        if (warnings) {
            for (const QString &problem : std::as_const(problems))
                warnings->append(QStringLiteral("line %1: %2").arg(number).arg(problem));
        }
    }
    checkRasterSize(layout, pageLine, warnings);
    return layout;
}

Result<TicketLayout> TicketLayout::load(const QString &path, QStringList *warnings)
{
    auto text = TextRecord::readFile(path);
    if (!text) {
        const int number = text.errorNumber() == ErrorNumber::PermissionDenied
                               ? ErrorNumber::PermissionDenied
                               : ErrorNumber::FileNotFound;
        return Error::make(number, QStringLiteral("Layout del ticket non trovato: %1").arg(path));
    }
    TicketLayout layout = parse(*text, warnings);
    if (!layout.unusable.isEmpty())
        return Error::make(
            ErrorNumber::BadLayout,
            QStringLiteral("Layout del ticket %1 inutilizzabile: %2").arg(path, layout.unusable));
    return layout;
}

PrintTarget TicketLayout::target(const ReportVariables &variables) const
{
    PrintTarget target{outputKind, outputName};
    if (outputKind == PrintTarget::Kind::PdfFile && outputName.contains(u'{')) {
        // Only the file name takes values: a value never changes the folder.
        const QFileInfo info(outputName);
        ReportVariables safe = variables;
        for (ReportVariable &variable : safe)
            variable.contents = fileNameSafe(variable.contents);
        const QString folder = info.path();
        target.name =
            (folder == u"." && !outputName.startsWith(u"./") ? QString() : folder + u'/') +
            substituteVariables(info.fileName(), safe);
    }
    return target;
}

qreal fittedPointSize(const LayoutItem &item, const QString &text, const QSizeF &box,
                      const QPaintDevice *device)
{
    constexpr qreal kSmallest = 4;
    QFont font(item.fontFamily);
    font.setPointSizeF(item.pointSize);
    font.setBold(item.bold);
    font.setItalic(item.italic);
    const auto fits = [&] {
        const QFontMetricsF metrics(font, device);
        if (!item.wrap)
            return metrics.horizontalAdvance(text) <= box.width();
        // Wrapped at word boundaries into at most `lines` lines of the box, no word cut.
        const QRectF needed = metrics.boundingRect(QRectF(0, 0, box.width(), 1e6),
                                                   Qt::TextWordWrap | item.alignment, text);
        const int lines = int(std::lround(needed.height() / metrics.lineSpacing()));
        return needed.width() <= box.width() + 0.5 && needed.height() <= box.height() + 0.5 &&
               lines <= item.maxLines;
    };
    while (font.pointSizeF() > kSmallest && !fits())
        font.setPointSizeF(font.pointSizeF() * 0.92);
    return font.pointSizeF();
}

namespace {

// A receipt printer spoken to in ESC/POS prints black dots or nothing: there a picture is
// drawn as its dots, one pixel a dot of the page, so that its greys survive the raster's
// threshold while text and rules reach it as they are drawn. Elsewhere it keeps its greys.
void drawPicture(QPainter &painter, const QRectF &place, const QImage &image, bool asDots)
{
    const QTransform toDevice = painter.deviceTransform();
    if (!asDots || toDevice.type() > QTransform::TxScale) {
        painter.drawImage(place, image);
        return;
    }
    const QRectF onDevice = toDevice.mapRect(place);
    const QPoint topLeft(int(std::lround(onDevice.left())), int(std::lround(onDevice.top())));
    const QPoint end(int(std::lround(onDevice.right())), int(std::lround(onDevice.bottom())));
    const QSize size(end.x() - topLeft.x(), end.y() - topLeft.y());
    if (size.isEmpty())
        return;
    painter.save();
    painter.resetTransform();
    painter.drawImage(topLeft, ditheredToDots(image, size));
    painter.restore();
}

} // namespace

void renderTicket(QPainter &painter, const TicketLayout &layout, const ReportVariables &variables)
{
    const QPaintDevice *device = painter.device();
    const qreal dotsX = device->logicalDpiX() / 25.4;
    const qreal dotsY = device->logicalDpiY() / 25.4;
    const auto toDevice = [&](const QRectF &mm) {
        return QRectF(mm.x() * dotsX, mm.y() * dotsY, mm.width() * dotsX, mm.height() * dotsY);
    };
    const auto pen = [&](qreal widthMm) {
        QPen p(Qt::black);
        p.setWidthF(qMax<qreal>(widthMm * dotsX, 1.0));
        return p;
    };

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const LayoutItem &item : layout.items) {
        const QRectF rect = toDevice(item.rect);
        switch (item.kind) {
        case LayoutItem::Kind::Text: {
            QStringList unknown;
            const QString text = substituteVariables(item.content, variables, &unknown);
            if (!unknown.isEmpty())
                qCWarning(lcReport).noquote()
                    << "ticket layout line" << item.sourceLine << ": unknown field"
                    << unknown.join(QStringLiteral(", ")) << "printed as empty";
            QFont font(item.fontFamily);
            font.setPointSizeF(item.pointSize);
            font.setBold(item.bold);
            font.setItalic(item.italic);
            if (item.fit)
                font.setPointSizeF(fittedPointSize(item, text, rect.size(), device));
            painter.setFont(font);
            painter.setPen(Qt::black);
            const int flags =
                item.alignment | Qt::AlignVCenter | (item.wrap ? Qt::TextWordWrap : 0);
            painter.drawText(rect, flags, text);
            break;
        }
        case LayoutItem::Kind::Line:
            painter.setPen(pen(item.penWidth));
            painter.drawLine(rect.topLeft(), rect.bottomRight());
            break;
        case LayoutItem::Kind::Box:
            painter.setPen(pen(item.penWidth));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(rect);
            break;
        case LayoutItem::Kind::Picture: {
            const QString file = substituteVariables(item.content.trimmed(), variables);
            // A huge picture file is refused rather than decoded into hundreds of MB.
            QImageReader reader(file);
            reader.setAllocationLimit(kMaxPictureMB);
            const QImage image = reader.read();
            if (image.isNull()) {
                qCWarning(lcReport).noquote() << "ticket layout line" << item.sourceLine
                                              << ": picture" << file << "cannot be loaded";
                break;
            }
            const QSizeF size = QSizeF(image.size()).scaled(rect.size(), Qt::KeepAspectRatio);
            const QRectF place(rect.x() + (rect.width() - size.width()) / 2,
                               rect.y() + (rect.height() - size.height()) / 2, size.width(),
                               size.height());
            drawPicture(painter, place, image, layout.outputKind == PrintTarget::Kind::EscPos);
            break;
        }
        }
    }
    painter.restore();
}

} // namespace nx7
