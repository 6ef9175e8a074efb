#pragma once

#include <QString>

namespace nx7 {

// Names that come from the stores (service names, file paths) as they go into a log line.
namespace LogText {

// `text` with every control character written as an escape ("\r", "\n", "\t", "\x1b"), so
// that a carriage return or a line feed in a service name never splits a log line in two
// or forges a line of its own. Every other character, a backslash included, is kept.
QString escaped(const QString &text);

} // namespace LogText
} // namespace nx7
