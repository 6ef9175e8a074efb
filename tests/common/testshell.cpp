#include "testshell.h"

#include "msgform.h"

namespace nx7::test {

void TestShell::messageBox(QWidget *, Icon icon, const QString &title, const QString &text)
{
    messages.append({icon, title, text});
}

int TestShell::execModal(QDialog &dialog)
{
    ModalForm shown{dialog.objectName(), {}};
    if (auto *msg = qobject_cast<MsgForm *>(&dialog)) {
        for (int i = 0; i < 3; ++i)
            shown.lines.append(msg->line(i));
    }
    modalForms.append(shown);
    if (m_ended)
        return QDialog::Rejected;
    if (m_handlers.isEmpty())
        return QDialog::Rejected;
    return m_handlers.takeFirst()(dialog);
}

QString TestShell::browseFolder(QWidget *, const QString &title)
{
    browserTitles.append(title);
    return folderToChoose;
}

} // namespace nx7::test
