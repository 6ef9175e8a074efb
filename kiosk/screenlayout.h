#pragma once

#include <QList>
#include <QRect>

#include <optional>

namespace nx7 {

// The kiosk screen is designed in twips; the screen shows 15 twips per pixel.
constexpr int kTwipsPerPixel = 15;

namespace Twips {
int toPixels(double twips);
// Converts the edges, so rectangles that do not overlap in twips do not overlap in pixels.
QRect toPixels(const QRect &twips);
int fromPixels(int pixels);
} // namespace Twips

// One of the four screen resolutions the kiosk is made for.
struct Resolution
{
    int code = 0;
    int width = 0; // form size in twips
    int height = 0;
    int referenceWidth = 0; // the date label is placed against this width
    int maxServices = 0;    // the largest service count with a layout

    QRect rect() const { return QRect(0, 0, width, height); }
};

namespace Resolutions {
// Codes 0 (1280 x 1024), 1 (1920 x 1080), 2 (1440 x 900) and 3 (800 x 600).
std::optional<Resolution> byCode(int code);
const QList<Resolution> &all();
// The code used when the configuration names no supported resolution.
constexpr int kFallbackCode = 0;
} // namespace Resolutions

// Where the date label goes: its right edge 240 twips short of the reference width.
int dateLabelLeft(int referenceWidth, int labelWidth);

// The fixed service-button layouts, one per resolution and service count.
namespace ScreenLayout {
// The rectangle of each button 1..count in twips (element 0 is button 1); no value when
// the table has no row for that resolution and count.
std::optional<QList<QRect>> buttonRects(int resolutionCode, int count);
} // namespace ScreenLayout

} // namespace nx7
