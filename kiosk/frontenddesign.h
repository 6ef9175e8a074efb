#pragma once

#include "screensettings.h"
#include "stationstate.h"

#include <QColor>
#include <QPalette>
#include <QString>

#include <array>

class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace nx7 {

// The kiosk screen as designed, before anything is loaded: its size, colours and fonts,
// and its controls in their design state.
namespace FrontEndDesign {

inline const QString kWaitingCaption =
    QStringLiteral("Attendere, emissione ticket in corso .........");

// Geometry in twips.
constexpr int kWidth = 12000;
constexpr int kHeight = 9000;
constexpr int kParkedLeft = 1000; // below the visible area at every resolution
constexpr int kParkedTop = 23000;
constexpr int kPanelWidth = 7800;
constexpr int kPanelCentringHeight = 1450; // the centring has always used 1450

QColor screenColour();
// The background colour of button item 1..20.
QColor buttonColour(int index);

struct Controls
{
    std::array<QPushButton *, kSlotCount> bottone{}; // hidden, "Pulsante 1" .. "Pulsante 20"
    QLabel *titoloTXT = nullptr;
    QLabel *label1 = nullptr;
    QLabel *pannelloAttesaStampa = nullptr; // hidden
    QPushButton *pushButton1 = nullptr;     // off the screen, out of the keyboard's reach
    QTimer *timer1 = nullptr;               // every second, not started
};
// The controls, made as children of `screen`.
Controls create(QWidget *screen);

void setTextColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour);
// The configured font and colour of a label, sized to its caption again.
void applyFont(QLabel *label, const FontSetting &setting);

} // namespace FrontEndDesign

} // namespace nx7
