#include "lamain.h"

#include "clock.h"
#include "database.h"
#include "filenames.h"
#include "imporete.h"
#include "msgform.h"
#include "numberingjournal.h"
#include "numberingstart.h"
#include "previousinstance.h"
#include "shell.h"
#include "startuplog.h"
#include "stationsettings.h"
#include "tables.h"
#include "textrecord.h"
#include "waitsettings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>

namespace nx7 {

namespace {

const QString kMessageTitle = QStringLiteral("NX7Totem-Messaggio");
const QString kWarningTitle = QStringLiteral("ATTENZIONE");

// The seconds of the waiting message: digits and backspace only, the whole text
// selected when the focus arrives so that the first key replaces it.
class SecondsEdit : public QLineEdit
{
public:
    explicit SecondsEdit(QWidget *parent) : QLineEdit(parent)
    {
        setMaxLength(WaitSettings::kMaxDigits);
        // Pasted text obeys the same rule as typed text.
        setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (passes(*event))
            QLineEdit::keyPressEvent(event);
        else
            event->accept(); // discarded before it reaches the text
    }

    void focusInEvent(QFocusEvent *event) override
    {
        QLineEdit::focusInEvent(event);
        // After a mouse press has placed the cursor, so the selection survives it.
        QTimer::singleShot(0, this, [this] {
            if (hasFocus())
                setSelection(0, int(text().size()));
        });
        setSelection(0, int(text().size()));
    }

private:
    static bool passes(const QKeyEvent &event)
    {
        switch (event.key()) {
        case Qt::Key_Backspace:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            break;
        }
        const QString text = event.text();
        if (text.isEmpty())
            return !(event.modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
        return text.size() == 1 && text.front() >= u'0' && text.front() <= u'9';
    }
};

// The logo of the window: a ticket with its number over a blue disc.
QPixmap drawLogo(const QSize &size)
{
    QPixmap logo(size);
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(2, 2, size.width() - 4, size.height() - 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(28, 78, 150));
    p.drawEllipse(box);
    const QRectF ticket(box.width() * 0.28, box.height() * 0.2, box.width() * 0.48,
                        box.height() * 0.62);
    p.setBrush(Qt::white);
    p.drawRoundedRect(ticket, 4, 4);
    p.setPen(QPen(QColor(28, 78, 150), 1.5, Qt::DashLine));
    p.drawLine(QPointF(ticket.left() + 4, ticket.top() + ticket.height() * 0.3),
               QPointF(ticket.right() - 4, ticket.top() + ticket.height() * 0.3));
    QFont digits(QStringLiteral("Tahoma"));
    digits.setPixelSize(int(ticket.height() * 0.38));
    digits.setBold(true);
    p.setFont(digits);
    p.setPen(QColor(200, 30, 40));
    p.drawText(ticket.adjusted(0, ticket.height() * 0.3, 0, 0), Qt::AlignCenter,
               QStringLiteral("7"));
    return logo;
}

} // namespace

LaMain::LaMain(const Stores &stores, StationState &state, Shell &shell, PreviousInstance &instance,
               const Clock &clock, FrontEndFactory makeFrontEnd, QWidget *parent)
    : QWidget(parent), m_stores(stores), m_state(state), m_shell(shell), m_instance(instance),
      m_clock(clock), m_day(stores), m_makeFrontEnd(std::move(makeFrontEnd))
{
    setObjectName(QStringLiteral("LaMain"));
    setWindowTitle(QStringLiteral("NX7 Totem versione PRO"));
    setFont(QFont(QStringLiteral("Tahoma"), 9));
    buildControls();
    // No window manager places or sizes the window: it does so itself.
    setFixedSize(470, 300);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void LaMain::buildControls()
{
    m_image2 = new QLabel(this);
    m_image2->setObjectName(QStringLiteral("Image2"));
    m_image2->setGeometry(20, 16, 96, 96);
    m_image2->setPixmap(drawLogo(m_image2->size()));

    m_label1 = new QLabel(QStringLiteral("Versione " NX7_VERSION), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(14, 124, 112, 20);
    m_label1->setAlignment(Qt::AlignCenter);

    m_label2 = new QLabel(QStringLiteral("PRO"), this);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setFont(QFont(QStringLiteral("Comic Sans MS"), 22, QFont::Bold));
    m_label2->setStyleSheet(QStringLiteral("color: #b01e28;"));
    m_label2->setGeometry(14, 148, 112, 44);
    m_label2->setAlignment(Qt::AlignCenter);

    // Waiting message after each ticket.
    m_groupBox2 = new QGroupBox(this);
    m_groupBox2->setObjectName(QStringLiteral("GroupBox2"));
    m_groupBox2->setGeometry(136, 8, 322, 104);
    m_attesaSiNo = new QCheckBox(QStringLiteral(" Messaggio attesa"), m_groupBox2);
    m_attesaSiNo->setObjectName(QStringLiteral("AttesaSiNo"));
    m_attesaSiNo->setGeometry(14, 14, 200, 24);
    m_messaggioSecondi = new SecondsEdit(m_groupBox2);
    m_messaggioSecondi->setObjectName(QStringLiteral("MessaggioSecondi"));
    m_messaggioSecondi->setGeometry(14, 56, 60, 26);
    m_label3 = new QLabel(QStringLiteral("secondi"), m_groupBox2);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->setGeometry(82, 58, 70, 22);

    // Numbering start.
    m_groupBox1 = new QGroupBox(this);
    m_groupBox1->setObjectName(QStringLiteral("GroupBox1"));
    m_groupBox1->setGeometry(136, 122, 322, 166);
    const QStringList choices{QStringLiteral(" Carica la Numerazione Iniziale"),
                              QStringLiteral(" Carica la Numerazione Corrente")};
    for (int i = 0; i < 2; ++i) {
        m_radioButton1[i] = new QRadioButton(choices.at(i), m_groupBox1);
        m_radioButton1[i]->setObjectName(QStringLiteral("RadioButton1_%1").arg(i));
        m_radioButton1[i]->setGeometry(14, 14 + i * 34, 290, 26);
    }
    m_radioButton1[0]->setChecked(true);
    m_sharedNumbering =
        new QLabel(QStringLiteral("Numerazione condivisa tra i totem"), m_groupBox1);
    m_sharedNumbering->setObjectName(QStringLiteral("NumerazioneCondivisa"));
    m_sharedNumbering->setGeometry(14, 82, 290, 24);
    m_sharedNumbering->setStyleSheet(QStringLiteral("color: #b01e28; font-weight: bold;"));
    m_sharedNumbering->hide();

    const QStringList captions{QStringLiteral("C&hiudi"), QStringLiteral("C&onferma"),
                               QStringLiteral("&Memorizza scelte")};
    for (int i = 0; i < 3; ++i) {
        m_pb1[i] = new QPushButton(captions.at(i), i == 2 ? m_groupBox2 : m_groupBox1);
        m_pb1[i]->setObjectName(QStringLiteral("PB1_%1").arg(i));
        m_pb1[i]->setAutoDefault(false);
        connect(m_pb1[i], &QPushButton::clicked, this, [this, i] { PB1_Click(i); });
    }
    m_pb1[2]->setGeometry(168, 52, 140, 32);
    m_pb1[1]->setGeometry(14, 116, 140, 34);
    m_pb1[0]->setGeometry(168, 116, 140, 34);
}

// --- Start-up sequence --------------------------------------------------------------

void LaMain::Form_Load()
{
    qCInfo(lcStartup).noquote() << "start-up in" << m_stores.stationFolder();
    // Before anything else: an initial start cut off by a power cut is settled, so that
    // the numbering files agree with the server database again. Should the server be
    // unreachable now, the journal stays and the next initial start settles it first.
    if (auto recovered = NumberingJournal::recover(m_stores); !recovered)
        qCCritical(lcStartup).noquote()
            << "interrupted numbering start not settled:" << recovered.error().description;
    // Claimed at once, so that a copy held at the server-path form blocks a second one
    // too; told only after the path is read, so that a station without it is led to the
    // setup first.
    const bool anotherCopy = m_instance.anotherCopyRunning();
    const bool pathRead = readServerPath();
    if (anotherCopy && !m_shell.programEnded()) {
        qCWarning(lcStartup) << "another copy of the kiosk is running: this one ends";
        m_shell.messageBox(this, Shell::Icon::Critical, kWarningTitle,
                           QStringLiteral("NX7PRO-Modulo TOTEM risulta già in esecuzione sulla "
                                          "macchina !"));
        m_shell.endProgram();
        return;
    }
    if (!pathRead)
        return;
    if (!proveServerFolder())
        return;
    loadWaitSettings();
    if (m_day.resumesWithoutOperator(m_clock.now())) // from the event loop, as the nightly restart
        QMetaObject::invokeMethod(this, &LaMain::resumeServing, Qt::QueuedConnection);
}

bool LaMain::readServerPath()
{
    auto field = TextRecord::readFirstField(m_stores.stationFile(FileName::ServerPathFile));
    if (!field) {
        // Whatever keeps the path from being read (no file, a folder in its place, no
        // permission) leaves the station without a server: the operator is led to set it.
        qCWarning(lcStartup).noquote()
            << FileName::ServerPathFile << "not read:" << field.errorNumber()
            << field.error().description;
        serverPathMissing();
        return false;
    }
    if (!FilePath::isServerPath(*field)) {
        // A file with no readable path names no server: the same as no file at all. The
        // root is no server folder either.
        qCWarning(lcStartup).noquote()
            << FileName::ServerPathFile << "holds no server path:" << *field;
        serverPathMissing();
        return false;
    }
    m_state.serverPath = *field;
    qCInfo(lcStartup).noquote() << "server path" << m_state.serverPath;
    return true;
}

bool LaMain::proveServerFolder()
{
    // Opened and closed, never read: only its presence counts.
    const QString marker = FilePath::server(m_state.serverPath, FileName::ReachabilityMarker);
    int error = TextRecord::checkFileToRead(marker).errorNumber();
    if (error == 0 && !QFile(marker).open(QIODevice::ReadOnly))
        error = ErrorNumber::PermissionDenied;
    if (error == 0)
        return true;
    qCWarning(lcStartup).noquote() << "server folder not reachable:" << marker << "error" << error;
    if (error == ErrorNumber::FileNotFound || error == ErrorNumber::PathNotFound)
        serverPathMissing();
    return false;
}

void LaMain::serverPathMissing()
{
    m_shell.messageBox(
        this, Shell::Icon::Information, kMessageTitle,
        QStringLiteral("Percorso Server non impostato o Server non raggiungibile !"));
    ImpoRete::showSetup(m_shell, this);
    if (m_shell.programEnded()) // the operator saved or closed the form: the next start is theirs
        m_day.endedByOperator();
}

// The operator back at this window knows that the day's numbers are the installation's. Read
// at each start, not before: a connection made here would be kept for the start and hide a
// refusal the operator must see.
void LaMain::showNumbering()
{
    m_sharedNumbering->setVisible(m_state.numbering == StationState::Numbering::Shared);
}

void LaMain::loadWaitSettings()
{
    Status status = readWaitSettings();
    if (status.errorNumber() == ErrorNumber::ItemNotFound) {
        // An older local database: add the missing fields and read again, once.
        if (Status upgraded = WaitSettings::UpgradeSettingsTable(m_stores); !upgraded)
            qCWarning(lcStartup).noquote()
                << "settings table not upgraded:" << upgraded.error().description;
        status = readWaitSettings();
    }
    if (status)
        return;
    qCWarning(lcStartup).noquote() << "waiting-message settings not loaded:" << status.errorNumber()
                                   << status.error().description;
    // An Access file of the old kiosk is never used; the operator must know why.
    if (status.errorNumber() == ErrorNumber::UnrecognizedDatabaseFormat)
        m_shell.messageBox(this, Shell::Icon::Critical, kWarningTitle, status.error().description);
}

Status LaMain::readWaitSettings()
{
    auto wait = StationSettings::loadWait(m_stores);
    if (!wait)
        return wait.error();
    m_state.waitMessageEnabled = wait->enabled;
    m_attesaSiNo->setChecked(m_state.waitMessageEnabled);
    m_state.waitSeconds = WaitSettings::clampedSeconds(wait->seconds);
    m_messaggioSecondi->setText(QString::number(m_state.waitSeconds));
    qCInfo(lcStartup) << "waiting message" << m_state.waitMessageEnabled << "seconds"
                      << m_state.waitSeconds;
    return {};
}

// --- Waiting-message settings -------------------------------------------------------

void LaMain::saveWaitSettings()
{
    const QString text = m_messaggioSecondi->text();
    const bool number = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    if (!number)
        m_messaggioSecondi->setText(QStringLiteral("0"));
    auto seconds = WaitSettings::parseSeconds(m_messaggioSecondi->text());
    if (!seconds) {
        m_shell.messageBox(this, Shell::Icon::Information, kMessageTitle,
                           QStringLiteral("Valore non valido: il messaggio di attesa può durare "
                                          "al massimo %1 secondi.\nLe scelte non sono state "
                                          "memorizzate.")
                               .arg(WaitSettings::kMaxSeconds));
        return;
    }
    const WaitSettings::Values values{m_attesaSiNo->isChecked(), *seconds};
    if (Status saved = WaitSettings::save(m_stores, values); !saved) {
        qCWarning(lcStartup).noquote()
            << "waiting-message settings not saved:" << saved.error().description;
        m_shell.messageBox(this, Shell::Icon::Critical, kWarningTitle,
                           QStringLiteral("Le scelte non sono state memorizzate.\n%1")
                               .arg(saved.error().description));
        return;
    }
    m_state.waitMessageEnabled = values.enabled;
    m_state.waitSeconds = values.seconds;
}

// --- Numbering start ----------------------------------------------------------------

void LaMain::PB1_Click(int index)
{
    switch (index) {
    case 0:
        qCInfo(lcStartup) << "closed by the operator";
        m_day.endedByOperator();
        endProgram();
        break;
    case 1:
        if (m_starting)
            return;
        if (m_radioButton1[1]->isChecked())
            LoadNumbering();
        if (!m_shell.programEnded() && m_radioButton1[0]->isChecked() && initialStartConfirmed())
            StartInitialNumbering();
        break;
    case 2:
        saveWaitSettings();
        break;
    default:
        break;
    }
}

void LaMain::LoadNumbering()
{
    const NumberingStart::Outcome outcome = NumberingStart(m_stores, m_state).loadCurrent();
    if (outcome.kind == NumberingStart::Outcome::Kind::ServerNotOpened) {
        m_shell.messageBox(this, Shell::Icon::Critical, kWarningTitle, outcome.error.description);
        return;
    }
    if (!outcome.started()) {
        MsgForm::showMessage(m_shell, this, outcome.message);
        return;
    }
    numberingStarted(false);
    showFrontEnd();
}

void LaMain::StartInitialNumbering()
{
    const NumberingStart::Outcome outcome = NumberingStart(m_stores, m_state).startInitial();
    switch (outcome.kind) {
    case NumberingStart::Outcome::Kind::Started:
        numberingStarted(true);
        showFrontEnd();
        break;
    case NumberingStart::Outcome::Kind::ServerUnreachable:
        MsgForm::showMessage(m_shell, this,
                             {QStringLiteral("Connessione al Server non presente !"),
                              QStringLiteral("Controllare la connessione.")});
        endProgram();
        break;
    case NumberingStart::Outcome::Kind::ServerNotOpened:
        // Nothing changed; the operator can try again, and is told why nothing happened
        // (an old Access file, a refused login, a certificate that does not verify ...).
        m_shell.messageBox(this, Shell::Icon::Critical, kWarningTitle, outcome.error.description);
        break;
    case NumberingStart::Outcome::Kind::Failed:
        MsgForm::showMessage(m_shell, this, outcome.message);
        break;
    }
}

void LaMain::numberingStarted(bool initial)
{
    // Before the screen opens: from here on a start nobody asked for resumes the day.
    m_day.numberingStarted(m_clock.now(), initial);
}

// An initial start that would empty the server's queue on a day already being served asks
// first, "No" by default: one key must not give the day's numbers again. The morning's
// first start and the nightly restart (which keeps the queue) do not ask.
bool LaMain::initialStartConfirmed()
{
    if (m_state.unattendedRestart)
        return true;
    const auto started = m_day.startedToday(m_clock.now());
    if (!started)
        return true;
    QMessageBox box(QMessageBox::Warning, kWarningTitle,
                    QStringLiteral("La numerazione di oggi è già stata avviata alle %1.\n\n"
                                   "Con la Numerazione Iniziale la coda del server viene svuotata "
                                   "e i numeri vengono dati di nuovo dall'inizio.\n\n"
                                   "Ricominciare comunque la numerazione?")
                        .arg(started->toString(QStringLiteral("HH:mm"))),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("ConfermaNumerazioneIniziale"));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sì"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    const bool confirmed = m_shell.execModal(box) == QMessageBox::Yes;
    qCInfo(lcStartup).noquote() << "initial numbering on a day started at"
                                << started->toString(QStringLiteral("HH:mm"))
                                << (confirmed ? "confirmed by the operator" : "not confirmed");
    return confirmed;
}

// The previous run ended without the operator (a crash, the watchdog, a kill, a power cut)
// on a day whose numbering had started: the kiosk serves again at once with the current
// numbering, as after the nightly restart.
void LaMain::resumeServing()
{
    const auto started = m_day.startedToday(m_clock.now());
    if (m_starting || m_shell.programEnded() || !started)
        return;
    qCWarning(lcStartup).noquote()
        << "the previous run did not end through the operator, and today's numbering started at"
        << started->toString(QStringLiteral("HH:mm")) << "- the current numbering resumes at once";
    emit numberingResumed(*started);
    m_radioButton1[1]->setChecked(true);
    PB1_Click(1);
}

void LaMain::showFrontEnd()
{
    if (!m_makeFrontEnd)
        return;
    m_starting = true;
    {
        auto screen = m_makeFrontEnd(this);
        if (screen && !m_shell.programEnded())
            m_shell.execModal(*screen);
    }
    m_starting = false;
    showNumbering();
    // Without a window manager nothing gives the focus back: take it, so that the
    // operator's keys (Alt+O, Alt+H) reach this window again.
    if (!m_shell.programEnded() && isVisible())
        activateWindow();
    // The screen may have asked for the nightly restart: answered from the event loop
    // once this call chain has unwound, so months of restarts never pile up.
    scheduleActivate();
}

void LaMain::Form_Activate()
{
    if (m_starting || m_shell.programEnded() || !m_state.restartRequested)
        return;
    m_state.restartRequested = false;
    m_state.unattendedRestart = true;
    qCInfo(lcStartup) << "unattended restart of the initial numbering";
    m_radioButton1[0]->setChecked(true);
    PB1_Click(1);
}

void LaMain::scheduleActivate()
{
    QMetaObject::invokeMethod(this, &LaMain::Form_Activate, Qt::QueuedConnection);
}

void LaMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        scheduleActivate();
}

void LaMain::endProgram()
{
    m_shell.endProgram();
    close();
}

void LaMain::closeEvent(QCloseEvent *event)
{
    // Closing the start-up window ends the program, whichever way it is closed.
    if (!m_shell.programEnded())
        m_shell.endProgram();
    QWidget::closeEvent(event);
}

} // namespace nx7
