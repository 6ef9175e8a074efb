#pragma once

#include <QDialog>

#include <functional>
#include <memory>

namespace nx7 {

// Makes and loads a kiosk screen, ready to be shown modally; null when its load decided
// that no screen is to be shown (the server was missing, or the program is ending).
using FrontEndFactory = std::function<std::unique_ptr<QDialog>(QWidget *parent)>;

} // namespace nx7
