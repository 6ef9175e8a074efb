#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QPalette>
#include <QPointer>
#include <QRect>

class QLabel;
class QPushButton;
class QWidget;

namespace nx7 {

// What a partially sighted keypad customer sees: a thick frame round the selected button
// and, on request, a high-contrast view with the buttons where they always are.
class AccessView
{
public:
    // `panel`: the waiting panel, whose widest text is `panelText`; it may be null.
    AccessView(QWidget *screen, const QList<QPushButton *> &buttons, const QList<QLabel *> &labels,
               QLabel *panel = nullptr, const QString &panelText = QString());
    ~AccessView();

    void showFocus(int slot); // 1..n; 0 hides the frame
    void setHighContrast(bool on);
    bool highContrast() const { return m_highContrast; }
    QWidget *focusFrame() const { return m_frame; }

    // Black on yellow buttons, light text on a black screen.
    static QColor screenColour() { return Qt::black; }
    static QColor screenTextColour() { return Qt::white; }
    static QColor buttonColour() { return QColor(255, 255, 0); }
    static QColor buttonTextColour() { return Qt::black; }
    // The contrast ratio of two colours as accessibility guidelines measure it (1 to 21).
    static double contrastRatio(const QColor &a, const QColor &b);

private:
    struct Look
    {
        QPointer<QWidget> widget;
        QPalette palette;
        QFont font;
        QRect geometry;
    };
    void enlargeCaption(QPushButton *button);
    QRect roomFor(const QLabel *label) const;
    void enlargeLabel(QLabel *label);
    void enlargePanel();

    QWidget *m_screen;
    QList<QPushButton *> m_buttons;
    QList<QLabel *> m_labels;
    QLabel *m_panel;
    QString m_panelText;
    QWidget *m_frame;
    QList<Look> m_plain; // the look to go back to
    bool m_highContrast = false;
    int m_focus = 0;
};

} // namespace nx7
