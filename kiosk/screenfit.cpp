#include "screenfit.h"

#include "screenlayout.h"

#include <QSize>

#include <algorithm>

namespace nx7::ScreenFit {

int mostServices(int resolutionCode)
{
    const auto resolution = Resolutions::byCode(resolutionCode);
    return resolution ? resolution->maxServices : 0;
}

int servicesShown(int resolutionCode, int activeServices)
{
    return std::clamp(activeServices, 0, mostServices(resolutionCode));
}

QString tooManyServicesText(int resolutionCode, int activeServices)
{
    const int most = mostServices(resolutionCode);
    if (activeServices <= most)
        return {};
    const auto resolution = Resolutions::byCode(resolutionCode);
    const QSize pixels = resolution ? Twips::toPixels(resolution->rect()).size() : QSize();
    return QStringLiteral("Servizi attivi (\"ServizioAttivo\"): %1, lo schermo %2 × %3 ne "
                          "mostra al massimo %4.")
        .arg(activeServices)
        .arg(pixels.width())
        .arg(pixels.height())
        .arg(most);
}

int fittingPointSize(int requested, int available, const std::function<int(int)> &heightAt)
{
    if (requested <= kMinPointSize || heightAt(requested) <= available)
        return std::max(requested, kMinPointSize);
    // The height grows with the size: the largest size that fits, found by halving.
    int fits = kMinPointSize;
    int tooHigh = requested;
    while (tooHigh - fits > 1) {
        const int middle = fits + (tooHigh - fits) / 2;
        (heightAt(middle) <= available ? fits : tooHigh) = middle;
    }
    return fits;
}

QString clampedSizeText(const QString &field, int requested, int used)
{
    return QStringLiteral("\"%1\" %2 does not fit the screen: %3 used")
        .arg(field)
        .arg(requested)
        .arg(used);
}

} // namespace nx7::ScreenFit
