#pragma once

#include <QDialog>

#include <array>

class QLabel;
class QPushButton;

namespace nx7 {

class Shell;

// The program's own modal message: a fixed heading, three caller-filled lines and two
// buttons that both close it.
class MsgForm : public QDialog
{
    Q_OBJECT
public:
    explicit MsgForm(QWidget *parent = nullptr);

    // Lines 0 to 2 of the label array Label2.
    void setLine(int index, const QString &text);
    QString line(int index) const;
    QLabel *lineLabel(int index) const { return m_label2.at(index); }
    QPushButton *button(int index) const { return m_pb1.at(index); }
    QString heading() const;

    // Builds a fresh form, fills the given lines and shows it modally.
    static void showMessage(Shell &shell, QWidget *parent, const QStringList &lines);

    void Form_Activate();
    void PB1_Click(int index);

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_label1 = nullptr;
    std::array<QLabel *, 3> m_label2{};
    std::array<QPushButton *, 2> m_pb1{};
};

} // namespace nx7
