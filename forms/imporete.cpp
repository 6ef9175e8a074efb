#include "imporete.h"

#include "filenames.h"
#include "formslog.h"
#include "msgform.h"
#include "shell.h"
#include "textrecord.h"

#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace nx7 {

namespace {

const QString kNoPathChosen = QStringLiteral("Percorso da impostare!");

// The form's decorative picture: a stylised server cabinet and a network line.
class ServerPicture : public QWidget
{
public:
    explicit ServerPicture(QWidget *parent) : QWidget(parent) { setFixedSize(96, 120); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(40, 60, 90), 2));
        p.setBrush(QColor(200, 210, 225));
        p.drawRoundedRect(QRectF(20, 6, 56, 84), 6, 6);
        for (int i = 0; i < 3; ++i) {
            p.setBrush(QColor(90, 110, 140));
            p.drawRect(QRectF(28, 16 + i * 22, 40, 12));
            p.setBrush(QColor(80, 200, 90));
            p.drawEllipse(QPointF(62, 22 + i * 22), 3, 3);
        }
        p.drawLine(QPointF(48, 90), QPointF(48, 108));
        p.drawLine(QPointF(10, 108), QPointF(86, 108));
    }
};

} // namespace

ImpoRete::ImpoRete(Shell &shell, QWidget *parent) : QDialog(parent), m_shell(shell)
{
    setObjectName(QStringLiteral("ImpoRete"));
    setWindowTitle(QStringLiteral("Impostazione Percorso di Rete"));
    setFont(QFont(QStringLiteral("Tahoma"), 9));
    setFixedSize(560, 220);

    auto *label1 = new QLabel(QStringLiteral("Percorso archivi"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    m_txtshortcutdir = new QLabel(this);
    m_txtshortcutdir->setObjectName(QStringLiteral("txtshortcutdir"));
    m_txtshortcutdir->setFrameShape(QFrame::Panel);
    m_txtshortcutdir->setFrameShadow(QFrame::Sunken);
    m_txtshortcutdir->setMinimumWidth(380);
    m_txtshortcutdir->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_txtshortcutdir->setTextFormat(Qt::PlainText); // a folder name is never markup
    // A long server path is shown whole, on as many lines as it needs.
    m_txtshortcutdir->setWordWrap(true);
    m_txtshortcutdir->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::MinimumExpanding);
    auto *image1 = new ServerPicture(this);
    image1->setObjectName(QStringLiteral("Image1"));

    auto *layout = new QGridLayout(this);
    layout->addWidget(image1, 0, 0, 3, 1);
    layout->addWidget(label1, 0, 1, 1, 3);
    layout->addWidget(m_txtshortcutdir, 1, 1, 1, 3);
    const QStringList captions{QStringLiteral("C&hiudi"),
                               QStringLiteral("&Impostazione percorso Server"),
                               QStringLiteral("&Salva")};
    for (int i = 0; i < 3; ++i) {
        m_cbt[i] = new QPushButton(captions.at(i), this);
        m_cbt[i]->setObjectName(QStringLiteral("cbt_%1").arg(i));
        m_cbt[i]->setAutoDefault(false);
        connect(m_cbt[i], &QPushButton::clicked, this, [this, i] { cbt_Click(i); });
        layout->addWidget(m_cbt[i], 2, 1 + i);
    }
}

void ImpoRete::showSetup(Shell &shell, QWidget *parent)
{
    ImpoRete form(shell, parent);
    shell.execModal(form);
}

QString ImpoRete::shownPath() const
{
    return m_shownPath;
}

void ImpoRete::setShownPath(const QString &path)
{
    m_shownPath = path;
    // Word wrap breaks only at spaces: an invisible break after each separator lets a
    // path without spaces wrap too.
    QString breakable = path;
    breakable.replace(u'\\', QStringLiteral("\\\u200B")).replace(u'/', QStringLiteral("/\u200B"));
    m_txtshortcutdir->setText(breakable);
}

void ImpoRete::Form_Activate()
{
    auto path = TextRecord::readFirstField(FilePath::local(FileName::ServerPathFile));
    if (!path)
        return; // no stored path yet: the label keeps its text
    m_path = *path;
    setShownPath(m_path);
}

void ImpoRete::cbt_Click(int index)
{
    switch (index) {
    case 0:
        m_shell.endProgram();
        break;
    case 1:
        BrowseServerFolder();
        break;
    case 2:
        save();
        break;
    default:
        break;
    }
}

void ImpoRete::BrowseServerFolder()
{
    const QString chosen = m_shell.browseFolder(this, QStringLiteral("Selezionare la cartella"));
    if (!chosen.isEmpty())
        setShownPath(QDir::toNativeSeparators(chosen));
}

void ImpoRete::save()
{
    const QString shown = m_shownPath;
    if (shown == kNoPathChosen || shown.trimmed().isEmpty()) {
        MsgForm::showMessage(m_shell, this,
                             {QStringLiteral("Selezionare un Percorso per gli archivi !")});
        return;
    }
    const Status written = TextRecord::writeText(FilePath::local(FileName::ServerPathFile), shown);
    if (!written) {
        qCWarning(lcForms).noquote() << "server path not saved:" << written.error().description;
        MsgForm::showMessage(
            m_shell, this,
            {QStringLiteral("Impossibile salvare il percorso del Server !"),
             QStringLiteral("Controllare che la cartella del totem sia scrivibile."),
             written.error().description});
        return;
    }
    m_path = shown;
    qCInfo(lcForms).noquote() << "server path saved:" << shown;
    MsgForm::showMessage(m_shell, this,
                         {QStringLiteral("Percorso /Server impostato correttamente !"),
                          QStringLiteral("Riavviare modulo NX7 - Totem !")});
    m_shell.endProgram();
}

void ImpoRete::closeEvent(QCloseEvent *event)
{
    QDialog::closeEvent(event);
    Form_QueryUnload();
    event->accept();
}

void ImpoRete::Form_QueryUnload()
{
    qCInfo(lcForms) << "server-path form closed: the program goes on with the path it had";
}

// Only the close box returns to the caller: Escape does nothing here.
void ImpoRete::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// Only on showing: the folder browser's closing must not bring back the stored path.
void ImpoRete::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Form_Activate();
}

} // namespace nx7
