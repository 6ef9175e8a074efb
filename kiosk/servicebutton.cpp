#include "servicebutton.h"

#include <QPainter>

namespace nx7 {

void ServiceButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect face = rect();
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    painter.fillRect(face, palette().color(QPalette::Active, QPalette::Button));

    // A grey outline, then a light and a dark inner edge that swap while pressed.
    const bool sunken = isDown();
    const QRect outline = face.adjusted(0, 0, -1, -1);
    painter.setPen(QColor(112, 112, 112));
    painter.drawRect(outline);
    const QRect inner = outline.adjusted(1, 1, -1, -1);
    const QColor light = palette().color(QPalette::Active, QPalette::Button).lighter(125);
    const QColor dark = palette().color(QPalette::Active, QPalette::Button).darker(130);
    painter.setPen(sunken ? dark : light);
    painter.drawLine(inner.topLeft(), inner.topRight());
    painter.drawLine(inner.topLeft(), inner.bottomLeft());
    painter.setPen(sunken ? light : dark);
    painter.drawLine(inner.bottomLeft(), inner.bottomRight());
    painter.drawLine(inner.topRight(), inner.bottomRight());

    QRect textArea = face.adjusted(6, 4, -6, -4);
    if (sunken)
        textArea.translate(1, 1);
    painter.setFont(font());
    painter.setPen(palette().color(group, QPalette::ButtonText));
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, text());
}

} // namespace nx7
