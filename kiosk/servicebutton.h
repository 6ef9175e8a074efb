#pragma once

#include <QPushButton>

namespace nx7 {

// A service button of the kiosk screen: its own colour over the whole face, a raised
// edge that sinks while pressed, and the service name centred, wrapped when long.
// Drawn by itself so that the colour does not depend on the widget style.
class ServiceButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace nx7
