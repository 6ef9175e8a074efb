#include "screenlayout.h"

#include <QtMath>

#include <utility>
#include <vector>

namespace nx7 {

namespace Twips {

int toPixels(double twips)
{
    return qRound(twips / kTwipsPerPixel);
}

QRect toPixels(const QRect &twips)
{
    const int left = toPixels(twips.x());
    const int top = toPixels(twips.y());
    const int right = toPixels(double(twips.x()) + twips.width());
    const int bottom = toPixels(double(twips.y()) + twips.height());
    return QRect(left, top, right - left, bottom - top);
}

int fromPixels(int pixels)
{
    return pixels * kTwipsPerPixel;
}

} // namespace Twips

namespace Resolutions {

const QList<Resolution> &all()
{
    static const QList<Resolution> table{
        {0, 19200, 15360, 19200, 20},
        {1, 28800, 16200, 28800, 20},
        {2, 21600, 13500, 21600, 20},
        {3, 12000, 9000, 12000, 12},
    };
    return table;
}

std::optional<Resolution> byCode(int code)
{
    for (const Resolution &resolution : all()) {
        if (resolution.code == code)
            return resolution;
    }
    return std::nullopt;
}

} // namespace Resolutions

int dateLabelLeft(int referenceWidth, int labelWidth)
{
    return referenceWidth - labelWidth - 240;
}

namespace {

// One row of the layout table. The rows of buttons use the column lefts, except the last
// row when it is not full (its own lefts, centred in some entries and not in others) and
// the odd rows listed apart. The values are the designed ones and follow no formula.
struct LayoutEntry
{
    int count;
    int width;
    int height;
    std::vector<int> rowTops;
    std::vector<int> columnLefts;
    std::vector<int> lastRowLefts;                           // empty: the last row is full
    std::vector<std::pair<int, std::vector<int>>> oddRows{}; // row index, its lefts
};

using LayoutTable = std::vector<LayoutEntry>;

// 1280 x 1024
const LayoutTable &layout0()
{
    static const LayoutTable table{
        {1, 8415, 5415, {4920}, {5040}, {}},
        {2, 7815, 5415, {4920}, {1440, 9600}, {}},
        {3, 7095, 4455, {3960, 8760}, {1920, 9360}, {5640}},
        {4, 7095, 4455, {3960, 8760}, {1920, 9360}, {}},
        {5, 5895, 3615, {3360, 7440}, {480, 6600, 12720}, {3360, 9480}},
        {6, 5895, 3615, {3360, 7440}, {480, 6600, 12720}, {}},
        {7, 5895, 3615, {2520, 6600, 10680}, {480, 6600, 12720}, {6600}},
        {8, 5895, 3615, {2520, 6600, 10680}, {480, 6600, 12720}, {480, 6600}},
        {9, 5895, 3615, {2520, 6600, 10680}, {480, 6600, 12720}, {}},
        {10, 5895, 2775, {2520, 5640, 8760, 11760}, {480, 6600, 12720}, {480}},
        {11, 5895, 2775, {2520, 5640, 8760, 11760}, {480, 6600, 12720}, {480, 6600}},
        {12, 5895, 2775, {2520, 5640, 8760, 11760}, {480, 6600, 12720}, {}},
        {13, 4335, 2415, {2880, 5520, 8160, 10800}, {480, 5040, 9600, 14160}, {480}},
        {14, 4335, 2415, {2880, 5520, 8160, 10800}, {480, 5040, 9600, 14160}, {480, 5040}},
        {15, 4335, 2415, {2880, 5520, 8160, 10800}, {480, 5040, 9600, 14160}, {480, 5040, 9600}},
        {16, 4335, 2415, {2880, 5520, 8160, 10800}, {480, 5040, 9600, 14160}, {}},
        {17, 4335, 2100, {2880, 5220, 7680, 10080, 12480}, {480, 5040, 9600, 14160}, {480}},
        {18, 4335, 2100, {2880, 5220, 7680, 10080, 12480}, {480, 5040, 9600, 14160}, {480, 5040}},
        {19,
         4335,
         2100,
         {2880, 5220, 7680, 10080, 12480},
         {480, 5040, 9600, 14160},
         {480, 5040, 9600}},
        {20, 4335, 2100, {2880, 5220, 7680, 10080, 12480}, {480, 5040, 9600, 14160}, {}},
    };
    return table;
}

// 1920 x 1080
const LayoutTable &layout1()
{
    static const LayoutTable table{
        {1, 9855, 6135, {5520}, {9120}, {}},
        {2, 9855, 6135, {5400}, {3360, 15360}, {}},
        {3, 7695, 5175, {4000, 9400}, {5880, 14040}, {10080}},
        {4, 7695, 5175, {4000, 9400}, {5880, 14040}, {}},
        {5, 5295, 3735, {5400, 9360}, {4200, 9600, 15000, 20400}, {12480}},
        {6, 5295, 3735, {5400, 9360}, {4200, 9600, 15000, 20400}, {9600, 15000}},
        {7, 5295, 3735, {5400, 9360}, {4200, 9600, 15000, 20400}, {4200, 9600, 15000}},
        {8, 5295, 3735, {5400, 9360}, {4200, 9600, 15000, 20400}, {}},
        {9,
         4935,
         3615,
         {4000, 7720},
         {1680, 6720, 11760, 16800, 21840},
         {1680, 6720, 11760, 16800}},
        {10, 4935, 3615, {4000, 7720}, {1680, 6720, 11760, 16800, 21840}, {}},
        {11, 4935, 3615, {4000, 7720, 11440}, {1680, 6720, 11760, 16800, 21840}, {11760}},
        {12, 4935, 3615, {4000, 7720, 11440}, {1680, 6720, 11760, 16800, 21840}, {9360, 14400}},
        {13,
         4935,
         3615,
         {4000, 7720, 11440},
         {1680, 6720, 11760, 16800, 21840},
         {6720, 11760, 16800}},
        {14,
         4935,
         3615,
         {4000, 7720, 11440},
         {1680, 6720, 11760, 16800, 21840},
         {1680, 6720, 11760, 16800}},
        {15, 4935, 3615, {4000, 7720, 11440}, {1680, 6720, 11760, 16800, 21840}, {}},
        {16, 4935, 2895, {3500, 6500, 9500, 12500}, {1680, 6720, 11760, 16800, 21840}, {11760}},
        {17,
         4935,
         2895,
         {3500, 6500, 9500, 12500},
         {1680, 6720, 11760, 16800, 21840},
         {9360, 14400}},
        {18,
         4935,
         2895,
         {3500, 6500, 9500, 12500},
         {1680, 6720, 11760, 16800, 21840},
         {6720, 11760, 16800}},
        {19,
         4935,
         2895,
         {3500, 6500, 9500, 12500},
         {1680, 6720, 11760, 16800, 21840},
         {1680, 6720, 11760, 16800}},
        {20, 4935, 2895, {3500, 6500, 9500, 12500}, {1680, 6720, 11760, 16800, 21840}, {}},
    };
    return table;
}

// 1440 x 900
const LayoutTable &layout2()
{
    static const LayoutTable table{
        {1, 8415, 5415, {4000}, {6240}, {}},
        {2, 7815, 5415, {4000}, {2640, 10800}, {}},
        {3, 7095, 4455, {2840, 7540}, {3120, 10560}, {6840}},
        {4, 7095, 4455, {2840, 7540}, {3120, 10560}, {}},
        {5, 5895, 3615, {2440, 6520}, {1680, 7800, 13920}, {4560, 10680}},
        {6, 5895, 3615, {2440, 6520}, {1680, 7800, 13920}, {}, {{1, {1680, 7880, 13920}}}},
        {7, 5895, 3500, {1915, 5595, 9310}, {1680, 7800, 13920}, {7800}},
        {8, 5895, 3500, {1915, 5595, 9310}, {1680, 7800, 13920}, {1680, 7800}},
        {9, 5895, 3500, {1915, 5595, 9310}, {1680, 7800, 13920}, {}},
        {10, 4200, 2535, {3240, 5880, 8520}, {1680, 6000, 10320, 14640}, {1680, 6000}},
        {11, 4200, 2535, {3240, 5880, 8520}, {1680, 6000, 10320, 14640}, {1680, 6000, 10320}},
        {12, 4200, 2535, {3240, 5880, 8520}, {1680, 6000, 10320, 14640}, {}},
        {13, 4200, 2535, {2400, 5040, 7680, 10320}, {1680, 6000, 10320, 14640}, {1680}},
        {14, 4200, 2535, {2400, 5040, 7680, 10320}, {1680, 6000, 10320, 14640}, {1680, 6000}},
        {15,
         4200,
         2535,
         {2400, 5040, 7680, 10320},
         {1680, 6000, 10320, 14640},
         {1680, 6000, 10320}},
        {16, 4200, 2535, {2400, 5040, 7680, 10320}, {1680, 6000, 10320, 14640}, {}},
        {17, 3800, 2535, {2280, 4920, 7560, 10200}, {720, 4680, 8640, 12600, 16560}, {720, 4680}},
        {18,
         3800,
         2535,
         {2280, 4920, 7560, 10200},
         {720, 4680, 8640, 12600, 16560},
         {720, 4680, 8640}},
        {19,
         3800,
         2535,
         {2280, 4920, 7560, 10200},
         {720, 4680, 8640, 12600, 16560},
         {720, 4680, 8640, 12600}},
        {20, 3800, 2535, {2280, 4920, 7560, 10200}, {720, 4680, 8640, 12600, 16560}, {}},
    };
    return table;
}

// 800 x 600
const LayoutTable &layout3()
{
    static const LayoutTable table{
        {1, 10095, 3495, {2880}, {960}, {}},
        {2, 5100, 3495, {3000}, {600, 6120}, {}},
        {3, 5100, 3495, {1440, 5160}, {480, 6000}, {3360}},
        {4, 5100, 3495, {1440, 5160}, {480, 6000}, {}},
        {5, 5220, 2415, {1320, 3840, 6360}, {480, 6000}, {3240}},
        {6, 5220, 2415, {1320, 3840, 6360}, {480, 6000}, {}},
        {7, 3780, 1700, {1800, 3600, 5400}, {120, 4080, 8040}, {4080}},
        {8, 3780, 1700, {1800, 3600, 5400}, {120, 4080, 8040}, {2040, 6000}},
        {9, 3780, 1700, {1800, 3600, 5400}, {120, 4080, 8040}, {}},
        {10, 3780, 1700, {1200, 3000, 4800, 6600}, {120, 4080, 8040}, {120}},
        {11, 3780, 1700, {1200, 3000, 4800, 6600}, {120, 4080, 8040}, {120, 4080}},
        {12, 3780, 1700, {1200, 3000, 4800, 6600}, {120, 4080, 8040}, {}},
    };
    return table;
}

const LayoutTable *tableFor(int resolutionCode)
{
    switch (resolutionCode) {
    case 0:
        return &layout0();
    case 1:
        return &layout1();
    case 2:
        return &layout2();
    case 3:
        return &layout3();
    default:
        return nullptr;
    }
}

const std::vector<int> &leftsOfRow(const LayoutEntry &entry, int row)
{
    const int lastRow = int(entry.rowTops.size()) - 1;
    if (row == lastRow && !entry.lastRowLefts.empty())
        return entry.lastRowLefts;
    for (const auto &odd : entry.oddRows) {
        if (odd.first == row)
            return odd.second;
    }
    return entry.columnLefts;
}

} // namespace

namespace ScreenLayout {

std::optional<QList<QRect>> buttonRects(int resolutionCode, int count)
{
    const LayoutTable *table = tableFor(resolutionCode);
    if (!table)
        return std::nullopt;
    for (const LayoutEntry &entry : *table) {
        if (entry.count != count)
            continue;
        // Buttons are numbered row by row, left to right.
        QList<QRect> rects;
        for (int row = 0; row < int(entry.rowTops.size()); ++row) {
            for (int left : leftsOfRow(entry, row))
                rects.append(QRect(left, entry.rowTops[row], entry.width, entry.height));
        }
        return rects;
    }
    return std::nullopt;
}

} // namespace ScreenLayout

} // namespace nx7
