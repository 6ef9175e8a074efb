#include "logtext.h"

namespace nx7::LogText {

namespace {

bool isControl(QChar c)
{
    // C0, DEL, C1 and the Unicode line and paragraph separators, which some readers of the
    // log take for line ends too.
    return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f) ||
           c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

QString escapeOf(QChar c)
{
    switch (c.unicode()) {
    case u'\r':
        return QStringLiteral("\\r");
    case u'\n':
        return QStringLiteral("\\n");
    case u'\t':
        return QStringLiteral("\\t");
    default:
        return c.unicode() <= 0xff
                   ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                   : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
}

} // namespace

QString escaped(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c))
            shown += escapeOf(c);
        else
            shown += c;
    }
    return shown;
}

} // namespace nx7::LogText
