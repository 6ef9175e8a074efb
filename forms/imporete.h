#pragma once

#include <QDialog>

#include <array>

class QLabel;
class QPushButton;

namespace nx7 {

class Shell;

// The modal form in which the operator chooses the server folder and stores it in
// "percorsiT.txt". Saving and "C&hiudi" end the program; only the window's close box
// returns to the caller.
class ImpoRete : public QDialog
{
    Q_OBJECT
public:
    explicit ImpoRete(Shell &shell, QWidget *parent = nullptr);

    // Builds a fresh form and shows it modally through the shell.
    static void showSetup(Shell &shell, QWidget *parent);

    QString shownPath() const;
    QPushButton *button(int index) const { return m_cbt.at(index); }

    void Form_Activate();
    void cbt_Click(int index);
    // The window's close box: the form unloads and the caller goes on.
    void Form_QueryUnload();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void setShownPath(const QString &path);
    void BrowseServerFolder();
    void save();

    Shell &m_shell;
    QString m_path;
    QString m_shownPath;
    QLabel *m_txtshortcutdir = nullptr;
    std::array<QPushButton *, 3> m_cbt{};
};

} // namespace nx7
