#include "dither.h"

#include <QColor>

#include <algorithm>
#include <vector>

namespace nx7 {

QImage ditheredToDots(const QImage &picture, const QSize &size)
{
    if (picture.isNull() || size.isEmpty())
        return {};
    // Scaled by area, so that the grey of each dot is that of the part of the picture it
    // covers; then not premultiplied (as smooth scaling leaves it), so that the alpha is
    // read apart from the grey.
    const QImage scaled = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32);
    const int width = scaled.width();
    const int height = scaled.height();

    // The error of a row is carried to the next one: one spare entry on either side.
    std::vector<int> current(size_t(width) + 2, 0);
    std::vector<int> next(size_t(width) + 2, 0);
    QImage dots(size, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        const QRgb *in = reinterpret_cast<const QRgb *>(scaled.constScanLine(y));
        QRgb *out = reinterpret_cast<QRgb *>(dots.scanLine(y));
        const bool leftToRight = y % 2 == 0;
        const int step = leftToRight ? 1 : -1;
        for (int i = 0; i < width; ++i) {
            const int x = leftToRight ? i : width - 1 - i;
            const int alpha = qAlpha(in[x]);
            // On white paper: a transparent part is white.
            const int grey = (qGray(in[x]) * alpha + 255 * (255 - alpha) + 127) / 255;
            const int wanted = grey + current[size_t(x + 1)];
            // The raster's own threshold: darker than middle grey is a dot.
            const bool dot = wanted < 128;
            const int error = wanted - (dot ? 0 : 255);
            out[x] = dot ? qRgba(0, 0, 0, 255) : qRgba(255, 255, 255, alpha < 128 ? 0 : 255);
            // The whole error goes on (7, 3, 5 and 1 sixteenths), none lost to rounding.
            const int ahead = error * 7 / 16;
            const int behindBelow = error * 3 / 16;
            const int below = error * 5 / 16;
            current[size_t(x + 1 + step)] += ahead;
            next[size_t(x + 1 - step)] += behindBelow;
            next[size_t(x + 1)] += below;
            next[size_t(x + 1 + step)] += error - ahead - behindBelow - below;
        }
        current.swap(next);
        std::fill(next.begin(), next.end(), 0);
    }
    return dots;
}

} // namespace nx7
