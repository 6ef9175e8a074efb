#pragma once

#include <QImage>
#include <QSize>

namespace nx7 {

// A picture as the dots of a printer that prints black or nothing: scaled to `size` (one
// pixel a dot), laid on white paper, and its greys turned into dots by error diffusion
// (Floyd–Steinberg, rows taken in alternate directions), so that a 25 % grey prints as a
// quarter of the dots instead of none. Every pixel of the result is black (a dot) or white,
// opaque where the picture is opaque and transparent where it is transparent, so that
// drawn on the page it covers what the picture itself would cover, and no more.
QImage ditheredToDots(const QImage &picture, const QSize &size);

} // namespace nx7
