#include "frontenddesign.h"

#include "screenlayout.h"
#include "servicebutton.h"

#include <QLabel>
#include <QTimer>

namespace nx7::FrontEndDesign {

namespace {

const QString kTitleDesignCaption = QStringLiteral("Scegli il Servizio.........");
const QString kDateDesignCaption = QStringLiteral("data/ora");

// Design geometry in twips.
constexpr int kLabelTop = 120;
constexpr int kTitleLeft = 120;
constexpr int kDateDesignLeft = 10680;
constexpr int kPanelHeight = 1455;

QFont labelDesignFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9.75);
    return font;
}

QFont buttonDesignFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(8.25);
    return font;
}

} // namespace

void setTextColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Active, role, colour);
    palette.setColor(QPalette::Inactive, role, colour);
    widget->setPalette(palette);
}

void applyFont(QLabel *label, const FontSetting &setting)
{
    label->setFont(setting.applyTo(label->font()));
    setTextColour(label, QPalette::WindowText, setting.colour);
    label->adjustSize();
}

QColor screenColour()
{
    return QColor(255, 255, 192);
}

QColor buttonColour(int index)
{
    static const std::array<QColor, kSlotCount> colours{
        QColor(255, 255, 192), QColor(255, 192, 192), QColor(192, 255, 192), QColor(192, 192, 255),
        QColor(255, 192, 255), QColor(198, 214, 236), QColor(0, 255, 255),   QColor(224, 223, 227),
        QColor(255, 224, 192), QColor(253, 254, 216), QColor(224, 223, 227), QColor(255, 192, 192),
        QColor(219, 255, 204), QColor(128, 255, 255), QColor(192, 255, 192), QColor(192, 192, 255),
        QColor(255, 224, 192), QColor(255, 192, 255), QColor(253, 254, 216), QColor(255, 192, 192)};
    if (index < 1 || index > kSlotCount)
        return QColor();
    return colours[index - 1];
}

Controls create(QWidget *screen)
{
    Controls c;
    for (int n = 1; n <= kSlotCount; ++n) {
        auto *button = new ServiceButton(QStringLiteral("Pulsante %1").arg(n), screen);
        button->setObjectName(QStringLiteral("Bottone_%1").arg(n));
        button->setAutoDefault(false);
        button->setFont(buttonDesignFont());
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, buttonColour(n));
        button->setPalette(palette);
        button->hide();
        c.bottone[n - 1] = button;
    }

    // The captions come from the configuration and the clock: shown as they are, never
    // read as markup.
    c.titoloTXT = new QLabel(kTitleDesignCaption, screen);
    c.titoloTXT->setObjectName(QStringLiteral("TitoloTXT"));
    c.titoloTXT->setTextFormat(Qt::PlainText);
    c.titoloTXT->setFont(labelDesignFont());
    c.titoloTXT->move(Twips::toPixels(kTitleLeft), Twips::toPixels(kLabelTop));
    c.titoloTXT->adjustSize();

    c.label1 = new QLabel(kDateDesignCaption, screen);
    c.label1->setObjectName(QStringLiteral("Label1"));
    c.label1->setTextFormat(Qt::PlainText);
    c.label1->setFont(labelDesignFont());
    c.label1->move(Twips::toPixels(kDateDesignLeft), Twips::toPixels(kLabelTop));
    c.label1->adjustSize();

    // A large caption may reach over the buttons: the touches there are theirs.
    for (QLabel *label : {c.titoloTXT, c.label1})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);

    c.pannelloAttesaStampa = new QLabel(kWaitingCaption, screen);
    c.pannelloAttesaStampa->setObjectName(QStringLiteral("PannelloAttesaStampa"));
    QFont panelFont(QStringLiteral("Tahoma"));
    panelFont.setPointSizeF(14.25);
    panelFont.setBold(true);
    c.pannelloAttesaStampa->setFont(panelFont);
    c.pannelloAttesaStampa->setAlignment(Qt::AlignCenter);
    c.pannelloAttesaStampa->setFrameStyle(QFrame::Panel | QFrame::Raised);
    c.pannelloAttesaStampa->setLineWidth(2);
    c.pannelloAttesaStampa->setAutoFillBackground(true);
    // The panel is shown while the screen is disabled: it keeps its normal colours.
    QPalette panelPalette = c.pannelloAttesaStampa->palette();
    for (auto role : {QPalette::Window, QPalette::WindowText}) {
        const QColor colour = role == QPalette::Window ? QColor(212, 208, 200) : QColor(Qt::black);
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            panelPalette.setColor(group, role, colour);
    }
    c.pannelloAttesaStampa->setPalette(panelPalette);
    c.pannelloAttesaStampa->resize(Twips::toPixels(kPanelWidth), Twips::toPixels(kPanelHeight));
    c.pannelloAttesaStampa->hide();

    c.pushButton1 = new QPushButton(screen);
    c.pushButton1->setObjectName(QStringLiteral("PushButton1"));
    c.pushButton1->setAutoDefault(false);
    // Only the timer presses it: Tab and Space must never restart the numbering.
    c.pushButton1->setFocusPolicy(Qt::NoFocus);
    c.pushButton1->setGeometry(Twips::toPixels(QRect(-2000, -1500, 3135, 1215)));

    c.timer1 = new QTimer(screen);
    c.timer1->setObjectName(QStringLiteral("Timer1"));
    c.timer1->setInterval(1000);

    return c;
}

} // namespace nx7::FrontEndDesign
