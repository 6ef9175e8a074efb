#include "printerstateview.h"

#include "printerstate.h"

#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>

namespace nx7 {

namespace {

// The banner's letters at their largest, and the room kept free at each end of a line.
constexpr int kBannerTitlePixels = 44;
constexpr int kBannerReasonPixels = 30;
constexpr int kBannerPadding = 12;

// The largest letters, up to `largestPixels`, at which the label's line fits `width`.
void fitFontToWidth(QLabel &label, int largestPixels, int width)
{
    QFont font = label.font();
    for (int pixels = largestPixels; pixels > 12; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).horizontalAdvance(label.text()) <= width)
            break;
    }
    label.setFont(font);
}

QFont bannerFont(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

PrinterStateView::PrinterStateView(QWidget *screen) : m_screen(screen)
{
    m_banner = new QWidget(screen);
    m_banner->setObjectName(QStringLiteral("BannerStampante"));
    m_banner->setAutoFillBackground(true);
    QPalette palette = m_banner->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, QColor(160, 0, 0));
        palette.setColor(group, QPalette::WindowText, Qt::white);
    }
    m_banner->setPalette(palette);
    auto *layout = new QVBoxLayout(m_banner);
    m_title = new QLabel(QStringLiteral("Servizio momentaneamente sospeso"), m_banner);
    m_reason = new QLabel(m_banner);
    m_reason->setObjectName(QStringLiteral("MotivoSospensione"));
    m_title->setFont(bannerFont(kBannerTitlePixels, true));
    m_reason->setFont(bannerFont(kBannerReasonPixels));
    for (QLabel *label : {m_title, m_reason}) {
        label->setAlignment(Qt::AlignCenter);
        label->setTextFormat(Qt::PlainText);
        label->setPalette(palette);
        layout->addWidget(label);
    }
    m_banner->hide();

    m_paperNotice = new QLabel(QStringLiteral("Carta in esaurimento"), screen);
    m_paperNotice->setObjectName(QStringLiteral("AvvisoCarta"));
    m_paperNotice->setTextFormat(Qt::PlainText);
    m_paperNotice->setFont(bannerFont(16, true));
    m_paperNotice->setAutoFillBackground(true);
    QPalette noticePalette = m_paperNotice->palette();
    noticePalette.setColor(QPalette::Window, QColor(255, 200, 0));
    noticePalette.setColor(QPalette::WindowText, Qt::black);
    m_paperNotice->setPalette(noticePalette);
    m_paperNotice->setContentsMargins(8, 4, 8, 4);
    m_paperNotice->adjustSize();
    m_paperNotice->hide();
}

void PrinterStateView::placePaperNotice(const QWidget *waitingPanel)
{
    // The layouts leave the bottom free at every resolution, but a title or a date may
    // reach a corner.
    const QSize size = m_paperNotice->sizeHint();
    const int width = m_screen->width();
    const int height = m_screen->height();
    constexpr int kMargin = 6;
    const QList<QRect> candidates{
        QRect(QPoint(kMargin, height - size.height() - kMargin), size),
        QRect(QPoint(width - size.width() - kMargin, height - size.height() - kMargin), size),
        QRect(QPoint((width - size.width()) / 2, height - size.height() - kMargin), size),
    };
    for (const QRect &candidate : candidates) {
        bool free = true;
        for (const QWidget *child : m_screen->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child != m_paperNotice && child != m_banner && child != waitingPanel &&
                !child->isHidden() && child->geometry().intersects(candidate))
                free = false;
        }
        if (free) {
            m_paperNotice->setGeometry(candidate);
            return;
        }
    }
    m_paperNotice->setGeometry(candidates.first());
}

void PrinterStateView::show(const PrinterState &state)
{
    const bool outOfService = !state.canPrint();
    m_reason->setText(state.text());
    const int width = m_screen->width();
    m_banner->setGeometry(0, (m_screen->height() - 160) / 2, width, 160);
    // Whole on the narrowest screen too (800 pixels): smaller letters, never cut ends.
    const QMargins margins = m_banner->layout()->contentsMargins();
    const int room = width - margins.left() - margins.right() - 2 * kBannerPadding;
    fitFontToWidth(*m_title, kBannerTitlePixels, room);
    fitFontToWidth(*m_reason, kBannerReasonPixels, room);
    m_banner->setVisible(outOfService);
    if (outOfService)
        m_banner->raise();
    m_paperNotice->setVisible(state.condition == PrinterState::Condition::PaperNearEnd);
    if (m_paperNotice->isVisible())
        m_paperNotice->raise();
}

} // namespace nx7
