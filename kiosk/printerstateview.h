#pragma once

class QLabel;
class QWidget;

namespace nx7 {

struct PrinterState;

// The printer's state on the kiosk screen: a band across the middle while it cannot print,
// over the buttons, which take no touches meanwhile; the small "Carta in esaurimento"
// notice in a corner no button takes while its paper runs low, where staff see it.
class PrinterStateView
{
public:
    explicit PrinterStateView(QWidget *screen);

    void show(const PrinterState &state);
    // The first bottom corner that no other shown widget of the screen covers.
    void placePaperNotice(const QWidget *waitingPanel);

    QWidget *banner() const { return m_banner; }
    QLabel *reason() const { return m_reason; }
    QLabel *paperNotice() const { return m_paperNotice; }

private:
    QWidget *m_screen;
    QWidget *m_banner;
    QLabel *m_title;
    QLabel *m_reason;
    QLabel *m_paperNotice;
};

} // namespace nx7
