#pragma once

#include <QString>

#include <functional>

namespace nx7 {

// What the kiosk screen can hold, so that it never shows a label over its buttons nor a
// title without buttons.
namespace ScreenFit {

// The smallest point size a clamped label is given.
constexpr int kMinPointSize = 6;

// The most services the layouts of a resolution hold; 0 for a code without layouts.
int mostServices(int resolutionCode);
// The services that get a button: all the active ones while the layouts hold them, else
// the first ones that fit (a kiosk that serves most of its customers rather than none).
int servicesShown(int resolutionCode, int activeServices);
// For the operator (start-up window, status line): empty while the services fit.
QString tooManyServicesText(int resolutionCode, int activeServices);

// The largest point size, at most `requested`, at which a line of text is no higher than
// `available` pixels; `heightAt` gives that height for a point size (the font's metrics).
// Never below kMinPointSize.
int fittingPointSize(int requested, int available, const std::function<int(int)> &heightAt);
// The log line of a size that was clamped, naming its field ("FontSizeTitolo").
QString clampedSizeText(const QString &field, int requested, int used);

} // namespace ScreenFit
} // namespace nx7
