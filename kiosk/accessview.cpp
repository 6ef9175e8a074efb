#include "accessview.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <cmath>

namespace nx7 {

namespace {

constexpr int kFrameWidth = 10;

// Black inside a white edge: black stands out on every pastel button and on yellow, the
// white edge on the black screen of the high-contrast view.
class FocusFrame final : public QWidget
{
public:
    explicit FocusFrame(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("CorniceSelezione"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, width(), kFrameWidth), Qt::white);
        painter.fillRect(QRect(0, height() - kFrameWidth, width(), kFrameWidth), Qt::white);
        painter.fillRect(QRect(0, 0, kFrameWidth, height()), Qt::white);
        painter.fillRect(QRect(width() - kFrameWidth, 0, kFrameWidth, height()), Qt::white);
        const QRect inner = rect().adjusted(3, 3, -3, -3);
        const int w = kFrameWidth - 3;
        painter.fillRect(QRect(inner.left(), inner.top(), inner.width(), w), Qt::black);
        painter.fillRect(QRect(inner.left(), inner.bottom() - w + 1, inner.width(), w), Qt::black);
        painter.fillRect(QRect(inner.left(), inner.top(), w, inner.height()), Qt::black);
        painter.fillRect(QRect(inner.right() - w + 1, inner.top(), w, inner.height()), Qt::black);
    }
};

double luminance(const QColor &colour)
{
    const auto channel = [](double c) {
        c /= 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) +
           0.0722 * channel(colour.blue());
}

void setColours(QWidget *widget, QPalette::ColorRole back, const QColor &backColour,
                QPalette::ColorRole text, const QColor &textColour)
{
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, back, backColour);
        palette.setColor(group, text, textColour);
    }
    widget->setPalette(palette);
}

} // namespace

AccessView::AccessView(QWidget *screen, const QList<QPushButton *> &buttons,
                       const QList<QLabel *> &labels, QLabel *panel, const QString &panelText)
    : m_screen(screen), m_buttons(buttons), m_labels(labels), m_panel(panel),
      m_panelText(panelText), m_frame(new FocusFrame(screen))
{
}

AccessView::~AccessView() = default;

double AccessView::contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

void AccessView::showFocus(int slot)
{
    m_focus = slot;
    if (slot < 1 || slot > m_buttons.size()) {
        m_frame->hide();
        return;
    }
    const QRect around = m_buttons.at(slot - 1)->geometry();
    m_frame->setGeometry(around);
    m_frame->show();
    m_frame->raise();
}

void AccessView::enlargeCaption(QPushButton *button)
{
    // As large as the button allows: the longest line fits its width, one line fits a third
    // of its height.
    QFont font = button->font();
    font.setBold(true);
    const QRect room = button->rect().adjusted(kFrameWidth + 4, 0, -kFrameWidth - 4, 0);
    for (int px = std::max(12, button->height() / 3); px >= 12; px -= 2) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(button->text()) <= room.width())
            break;
    }
    button->setFont(font);
}

QRect AccessView::roomFor(const QLabel *label) const
{
    // From where the label stands to the next visible thing on its right and below it: it
    // grows without covering the date, the buttons or anything a hand looks for.
    const QRect at = label->geometry();
    QRect room(at.topLeft(), QPoint(m_screen->width() - 1, m_screen->height() - 1));
    const auto limit = [&](const QWidget *other) {
        if (other == label || !other->isVisible())
            return;
        const QRect g = other->geometry();
        if (g.left() >= at.right() && g.top() < at.bottom() && g.bottom() > at.top())
            room.setRight(std::min(room.right(), g.left() - kFrameWidth));
        else if (g.top() >= at.bottom())
            room.setBottom(std::min(room.bottom(), g.top() - kFrameWidth));
    };
    for (const QLabel *other : m_labels)
        limit(other);
    for (const QPushButton *button : m_buttons)
        limit(button);
    return room;
}

void AccessView::enlargeLabel(QLabel *label)
{
    const QRect room = roomFor(label);
    QFont font = label->font();
    const int plain = font.pixelSize() > 0 ? font.pixelSize() : QFontMetrics(font).height();
    for (int px = plain * 2; px > plain; px -= 2) {
        font.setPixelSize(px);
        const QFontMetrics metrics(font);
        if (metrics.horizontalAdvance(label->text()) <= room.width() &&
            metrics.height() <= room.height()) {
            label->setFont(font);
            label->adjustSize();
            return;
        }
    }
}

void AccessView::enlargePanel()
{
    // Nine tenths of the screen across, its widest text on one line at up to twice the
    // size, three lines high: the notices have two. The screen centres it by its size.
    const int width = m_screen->width() * 9 / 10;
    const int room = width - 2 * m_panel->frameWidth() - 2 * kFrameWidth;
    QFont font = m_panel->font();
    const int plain = QFontInfo(font).pixelSize();
    for (int px = plain * 2; px > plain; px -= 2) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(m_panelText) <= room)
            break;
    }
    m_panel->setFont(font);
    m_panel->resize(width, QFontMetrics(font).height() * 3 + 2 * m_panel->frameWidth());
}

void AccessView::setHighContrast(bool on)
{
    if (on == m_highContrast)
        return;
    m_highContrast = on;
    if (!on) {
        for (const Look &look : m_plain) {
            if (look.widget) {
                look.widget->setPalette(look.palette);
                look.widget->setFont(look.font);
                if (look.geometry.isValid()) // only labels change their size
                    look.widget->setGeometry(look.geometry);
            }
        }
        m_plain.clear();
        m_screen->update();
        return;
    }
    m_plain.append({m_screen, m_screen->palette(), m_screen->font(), QRect()});
    setColours(m_screen, QPalette::Window, screenColour(), QPalette::WindowText,
               screenTextColour());
    for (QPushButton *button : m_buttons) {
        m_plain.append({button, button->palette(), button->font(), QRect()});
        setColours(button, QPalette::Button, buttonColour(), QPalette::ButtonText,
                   buttonTextColour());
        enlargeCaption(button);
    }
    for (QLabel *label : m_labels) {
        m_plain.append({label, label->palette(), label->font(), label->geometry()});
        setColours(label, QPalette::Window, screenColour(), QPalette::WindowText,
                   screenTextColour());
    }
    for (QLabel *label : m_labels) {
        if (label->isVisible())
            enlargeLabel(label);
    }
    if (m_panel) {
        m_plain.append({m_panel, m_panel->palette(), m_panel->font(), m_panel->geometry()});
        // White on black: it stands apart from the yellow buttons it covers.
        setColours(m_panel, QPalette::Window, screenColour(), QPalette::WindowText,
                   screenTextColour());
        enlargePanel();
    }
    m_screen->update();
}

} // namespace nx7
