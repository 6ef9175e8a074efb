#include "msgform.h"

#include "shell.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace nx7 {

namespace {
const QString kPlaceholder = QStringLiteral("Label2");
}

MsgForm::MsgForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MsgForm"));
    setWindowTitle(QStringLiteral(" "));
    setAttribute(Qt::WA_DeleteOnClose, false);
    // Fixed width; long lines wrap and the form grows downwards, so nothing is clipped.
    setFixedWidth(520);
    setMinimumHeight(240);

    m_label1 = new QLabel(QStringLiteral("Messaggio x te  da ORDINAFILA 3 PRO (Totem)"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setFont(QFont(QStringLiteral("Tahoma"), 10, QFont::Bold));

    auto *line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setFrameShape(QFrame::HLine);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label1);
    layout->addWidget(line1);
    const QStringList design{kPlaceholder, QString(), QString()};
    for (int i = 0; i < 3; ++i) {
        m_label2[i] = new QLabel(design.at(i), this);
        m_label2[i]->setObjectName(QStringLiteral("Label2_%1").arg(i));
        m_label2[i]->setFont(QFont(QStringLiteral("Tahoma"), 11, QFont::Bold));
        m_label2[i]->setAlignment(Qt::AlignCenter);
        m_label2[i]->setTextFormat(Qt::PlainText); // paths and error texts, never markup
        m_label2[i]->setWordWrap(true);
        layout->addWidget(m_label2[i]);
    }
    layout->addStretch();

    auto *buttons = new QHBoxLayout;
    const QStringList captions{QStringLiteral("C&hiudi"), QStringLiteral("&Conferma")};
    for (int i = 0; i < 2; ++i) {
        m_pb1[i] = new QPushButton(captions.at(i), this);
        m_pb1[i]->setObjectName(QStringLiteral("PB1_%1").arg(i));
        m_pb1[i]->setAutoDefault(false);
        connect(m_pb1[i], &QPushButton::clicked, this, [this, i] { PB1_Click(i); });
        buttons->addWidget(m_pb1[i]);
    }
    layout->addLayout(buttons);
}

void MsgForm::setLine(int index, const QString &text)
{
    m_label2.at(index)->setText(text);
}

QString MsgForm::line(int index) const
{
    return m_label2.at(index)->text();
}

QString MsgForm::heading() const
{
    return m_label1->text();
}

void MsgForm::showMessage(Shell &shell, QWidget *parent, const QStringList &lines)
{
    MsgForm form(parent);
    for (int i = 0; i < qMin(int(lines.size()), 3); ++i)
        form.setLine(i, lines.at(i));
    shell.execModal(form);
}

void MsgForm::Form_Activate()
{
    // The design placeholder is never shown: a line the caller did not set is hidden.
    for (int i = 0; i < 2; ++i) {
        if (m_label2[i]->text() == kPlaceholder)
            m_label2[i]->setVisible(false);
    }
}

void MsgForm::PB1_Click(int)
{
    accept();
}

void MsgForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Form_Activate();
    // Tall enough for the wrapped lines.
    resize(width(), qMax(minimumHeight(), heightForWidth(width())));
}

void MsgForm::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
}

void MsgForm::paintEvent(QPaintEvent *event)
{
    // The form's background picture: a soft blue wash with a darker band at the top.
    QPainter painter(this);
    QLinearGradient wash(0, 0, 0, height());
    wash.setColorAt(0.0, QColor(198, 214, 236));
    wash.setColorAt(1.0, QColor(245, 248, 252));
    painter.fillRect(rect(), wash);
    painter.fillRect(QRect(0, 0, width(), 6), QColor(40, 80, 140));
    QDialog::paintEvent(event);
}

} // namespace nx7
