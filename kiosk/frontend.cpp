#include "frontend.h"

#include "accessview.h"
#include "backgroundpicture.h"
#include "keypadkeys.h"
#include "speechsession.h"

#include "clock.h"
#include "database.h"
#include "filenames.h"
#include "imporete.h"
#include "kiosklog.h"
#include "logtext.h"
#include "msgform.h"
#include "printerstate.h"
#include "screenlayout.h"
#include "servicebutton.h"
#include "shell.h"
#include "tables.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace nx7 {

namespace {

const QString kTitleDesignCaption = QStringLiteral("Scegli il Servizio.........");
const QString kDateDesignCaption = QStringLiteral("data/ora");
const QString kWaitingCaption = QStringLiteral("Attendere, emissione ticket in corso .........");

// The banner's letters at their largest, and the room kept free at each end of a line.
constexpr int kBannerTitlePixels = 44;
constexpr int kBannerReasonPixels = 30;
constexpr int kBannerPadding = 12;

// The largest letters, up to `largestPixels`, at which the label's line fits `width`.
void fitFontToWidth(QLabel &label, int largestPixels, int width)
{
    QFont font = label.font();
    for (int pixels = largestPixels; pixels > 12; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).horizontalAdvance(label.text()) <= width)
            break;
    }
    label.setFont(font);
}

// Design geometry in twips.
constexpr int kDesignWidth = 12000;
constexpr int kDesignHeight = 9000;
constexpr int kLabelTop = 120;
constexpr int kTitleLeft = 120;
constexpr int kDateDesignLeft = 10680;
constexpr int kParkedLeft = 1000; // below the visible area at every resolution
constexpr int kParkedTop = 23000;
constexpr int kPanelWidth = 7800;
constexpr int kPanelHeight = 1455;
constexpr int kPanelCentringHeight = 1450; // the centring has always used 1450

QFont labelDesignFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9.75);
    return font;
}

QFont buttonDesignFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(8.25);
    return font;
}

void setTextColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Active, role, colour);
    palette.setColor(QPalette::Inactive, role, colour);
    widget->setPalette(palette);
}

void applyFont(QLabel *label, const FontSetting &setting)
{
    label->setFont(setting.applyTo(label->font()));
    setTextColour(label, QPalette::WindowText, setting.colour);
    label->adjustSize();
}

bool isServerMissing(int number)
{
    return number == ErrorNumber::PathNotFound || number == ErrorNumber::NotValidPath ||
           number == ErrorNumber::DatabaseFileNotFound;
}

} // namespace

FrontEnd::FrontEnd(const Stores &stores, StationState &state, Shell &shell, Clock &clock,
                   TicketIssuer &issuer, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_stores(stores), m_state(state),
      m_shell(shell), m_clock(clock), m_issuer(issuer)
{
    setObjectName(QStringLiteral("FrontEnd"));
    setWindowTitle(QStringLiteral("Prendi il tuo Numero qui"));
    // A touch screen shows no pointer; the start-up window keeps it for the operator's mouse.
    setCursor(Qt::BlankCursor);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, screenColour());
    setPalette(palette);
    resize(Twips::toPixels(kDesignWidth), Twips::toPixels(kDesignHeight));
    createControls();
    createPrinterControls();
}

FrontEnd::~FrontEnd()
{
    // A screen destroyed without being closed leaves no poll behind.
    if (PrinterMonitor *monitor = m_issuer.printerMonitor())
        monitor->stop();
}

QColor FrontEnd::screenColour()
{
    return QColor(255, 255, 192);
}

QColor FrontEnd::buttonColour(int index)
{
    static const std::array<QColor, kSlotCount> colours{
        QColor(255, 255, 192), QColor(255, 192, 192), QColor(192, 255, 192), QColor(192, 192, 255),
        QColor(255, 192, 255), QColor(198, 214, 236), QColor(0, 255, 255),   QColor(224, 223, 227),
        QColor(255, 224, 192), QColor(253, 254, 216), QColor(224, 223, 227), QColor(255, 192, 192),
        QColor(219, 255, 204), QColor(128, 255, 255), QColor(192, 255, 192), QColor(192, 192, 255),
        QColor(255, 224, 192), QColor(255, 192, 255), QColor(253, 254, 216), QColor(255, 192, 192)};
    if (index < 1 || index > kSlotCount)
        return QColor();
    return colours[index - 1];
}

void FrontEnd::createControls()
{
    for (int n = 1; n <= kSlotCount; ++n) {
        auto *button = new ServiceButton(QStringLiteral("Pulsante %1").arg(n), this);
        button->setObjectName(QStringLiteral("Bottone_%1").arg(n));
        button->setAutoDefault(false);
        button->setFont(buttonDesignFont());
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, buttonColour(n));
        button->setPalette(palette);
        button->hide();
        connect(button, &QPushButton::clicked, this, [this, n] { Bottone_Click(n); });
        m_bottone[n - 1] = button;
    }

    // The captions come from the configuration and the clock: shown as they are, never
    // read as markup.
    m_titoloTXT = new QLabel(kTitleDesignCaption, this);
    m_titoloTXT->setObjectName(QStringLiteral("TitoloTXT"));
    m_titoloTXT->setTextFormat(Qt::PlainText);
    m_titoloTXT->setFont(labelDesignFont());
    m_titoloTXT->move(Twips::toPixels(kTitleLeft), Twips::toPixels(kLabelTop));
    m_titoloTXT->adjustSize();

    m_label1 = new QLabel(kDateDesignCaption, this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setTextFormat(Qt::PlainText);
    m_label1->setFont(labelDesignFont());
    m_label1->move(Twips::toPixels(kDateDesignLeft), Twips::toPixels(kLabelTop));
    m_label1->adjustSize();

    m_pannelloAttesaStampa = new QLabel(kWaitingCaption, this);
    m_pannelloAttesaStampa->setObjectName(QStringLiteral("PannelloAttesaStampa"));
    QFont panelFont(QStringLiteral("Tahoma"));
    panelFont.setPointSizeF(14.25);
    panelFont.setBold(true);
    m_pannelloAttesaStampa->setFont(panelFont);
    m_pannelloAttesaStampa->setAlignment(Qt::AlignCenter);
    m_pannelloAttesaStampa->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_pannelloAttesaStampa->setLineWidth(2);
    m_pannelloAttesaStampa->setAutoFillBackground(true);
    // The panel is shown while the screen is disabled: it keeps its normal colours.
    QPalette panelPalette = m_pannelloAttesaStampa->palette();
    for (auto role : {QPalette::Window, QPalette::WindowText}) {
        const QColor colour = role == QPalette::Window ? QColor(212, 208, 200) : QColor(Qt::black);
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            panelPalette.setColor(group, role, colour);
    }
    m_pannelloAttesaStampa->setPalette(panelPalette);
    m_pannelloAttesaStampa->resize(Twips::toPixels(kPanelWidth), Twips::toPixels(kPanelHeight));
    m_pannelloAttesaStampa->hide();

    m_pushButton1 = new QPushButton(this);
    m_pushButton1->setObjectName(QStringLiteral("PushButton1"));
    m_pushButton1->setAutoDefault(false);
    // Only the timer presses it: Tab and Space must never restart the numbering.
    m_pushButton1->setFocusPolicy(Qt::NoFocus);
    m_pushButton1->setGeometry(Twips::toPixels(QRect(-2000, -1500, 3135, 1215)));
    connect(m_pushButton1, &QPushButton::clicked, this, [this] { NightlyRestart(); });

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(1000);
    connect(m_timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });

    m_noticeTimer = new QTimer(this);
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(kNoticeMs);
    connect(m_noticeTimer, &QTimer::timeout, this, [this] {
        m_pannelloAttesaStampa->hide();
        restoreWaitingCaption();
    });
}

QPushButton *FrontEnd::bottone(int index) const
{
    if (index < 1 || index > kSlotCount)
        return nullptr;
    return m_bottone[index - 1];
}

QString FrontEnd::buttonCaption(int slot) const
{
    const QPushButton *button = bottone(slot);
    return button ? button->text() : QString();
}

void FrontEnd::parkButtons()
{
    for (QPushButton *button : m_bottone) {
        button->hide();
        button->move(Twips::toPixels(kParkedLeft), Twips::toPixels(kParkedTop));
    }
}

std::unique_ptr<QDialog> FrontEnd::createLoaded(const Stores &stores, StationState &state,
                                                Shell &shell, Clock &clock, TicketIssuer &issuer,
                                                QWidget *parent)
{
    auto screen = std::make_unique<FrontEnd>(stores, state, shell, clock, issuer, parent);
    if (!screen->Form_Load())
        return nullptr;
    return screen;
}

bool FrontEnd::Form_Load()
{
    parkButtons();
    for (int n = 1; n <= kSlotCount; ++n)
        m_context.slotNextNumber[n] = m_state.serviceCounters[n];

    // Resolution and size: a server that cannot be found leads to the server-path form;
    // any other failure leaves the screen as prepared so far.
    const QString serverDatabase = FilePath::server(m_state.serverPath, FileName::ServerDatabase);
    auto db = m_stores.server(m_state.serverPath);
    if (!db) {
        if (isServerMissing(db.errorNumber())) {
            qCWarning(lcKiosk).noquote() << "server database not found:" << serverDatabase;
            ImpoRete::showSetup(m_shell, this);
            if (!m_shell.programEnded())
                m_shell.endProgram();
            return false;
        }
        qCWarning(lcKiosk).noquote()
            << "server database unusable, screen left empty:" << db.error().number
            << db.error().description;
        finishLoad();
        return true;
    }
    if (Status status = applyResolution(*db); !status) {
        qCWarning(lcKiosk).noquote()
            << "screen configuration unreadable, screen left empty:" << status.errorNumber()
            << status.error().description;
        finishLoad();
        return true;
    }

    Status status = loadActiveServices(*db);
    if (status && m_activeServiceCount > 0)
        status = ApplyScreenConfiguration(*db);
    if (!status) {
        m_shell.reportRuntimeError(this, status.error());
        return false;
    }
    finishLoad();
    return true;
}

void FrontEnd::finishLoad()
{
    m_restartCheck = std::make_unique<NightlyRestartCheck>(m_clock.now());
    m_timer1->start();
    placePaperNotice();
    if (PrinterMonitor *monitor = m_issuer.printerMonitor()) {
        connect(monitor, &PrinterMonitor::printerStateChanged, this, &FrontEnd::showPrinterState);
        // Never asked in the middle of a ticket. The issuer owns the monitor and outlives
        // the screen: the question does not reach back into the screen.
        monitor->start([&issuer = m_issuer] { return issuer.issuing(); });
        showPrinterState(monitor->state());
    }
    qCInfo(lcKiosk) << "kiosk screen loaded: resolution" << m_resolutionCode << "services"
                    << m_activeServiceCount;
}

Status FrontEnd::applyResolution(Database &db)
{
    auto table = RecordSet::openTable(db, Table::ScreenSettings);
    if (!table)
        return table.error();
    auto stored = table->value(Field::Resolution);
    if (!stored)
        return stored.error();
    // A code the kiosk does not know would give a window of no size: 1280 x 1024 instead.
    auto code = Value::toInt32(*stored);
    std::optional<Resolution> resolution;
    if (code)
        resolution = Resolutions::byCode(*code);
    if (!resolution) {
        qCWarning(lcKiosk).noquote() << "RisoluzioneTotem" << stored->toString()
                                     << "is not a known resolution: 1280 x 1024 is used";
        resolution = Resolutions::byCode(Resolutions::kFallbackCode);
    }
    m_resolutionCode = resolution->code;
    m_targetWidth = resolution->width;
    m_targetHeight = resolution->height;
    resize(Twips::toPixels(m_targetWidth), Twips::toPixels(m_targetHeight));
    centreOnScreen();
    return {};
}

Status FrontEnd::loadActiveServices(Database &db)
{
    // The services whose "ServizioAttivo" is Yes, in table order; the n-th is slot n.
    auto services = RecordSet::openTable(db, Table::Services);
    if (!services)
        return services.error();
    int active = 0;
    int skipped = 0;
    for (services->moveFirst(); !services->eof(); services->moveNext()) {
        auto flag = services->value(Field::ServiceActive);
        if (!flag)
            return flag.error();
        if (!Value::isTrue(*flag))
            continue;
        if (active == kSlotCount) {
            ++skipped; // there are twenty slots
            continue;
        }
        auto name = services->value(Field::ServiceName);
        if (!name)
            return name.error();
        if (Value::isNull(*name))
            return Error::make(ErrorNumber::InvalidUseOfNull);
        auto id = services->value(Field::Id);
        if (!id)
            return id.error();
        ++active;
        m_context.slotServiceId[active] = *id;
        m_combo1.append(name->toString());
    }
    if (skipped > 0)
        qCWarning(lcKiosk) << skipped << "active services beyond the twentieth have no button";
    m_activeServiceCount = active;
    return {};
}

Status FrontEnd::ApplyScreenConfiguration(Database &db)
{
    auto table = RecordSet::openTable(db, Table::ScreenSettings);
    if (!table)
        return table.error();
    auto settings = ScreenSettings::read(*table);
    if (!settings)
        return settings.error();

    m_titoloTXT->setVisible(settings->titleVisible);
    m_label1->setVisible(settings->dateVisible);
    ApplyScreenLayout(*settings);

    for (int i = 0; i < m_combo1.size(); ++i) {
        QPushButton *button = m_bottone[i];
        button->setText(m_combo1.at(i) + u' ');
        button->setFont(settings->button.applyTo(button->font()));
        setTextColour(button, QPalette::ButtonText, settings->button.colour);
    }
    applyFont(m_titoloTXT, settings->title);
    applyFont(m_label1, settings->date);
    // Placed again with the date font, or a date font larger than the design one would
    // push the end of the date off the screen.
    placeDateLabel();
    return {};
}

void FrontEnd::ApplyScreenLayout(const ScreenSettings &settings)
{
    loadBackground(settings.backgroundPicturePath);

    m_titoloTXT->setText(settings.titleText);
    m_titoloTXT->adjustSize();

    // Written once: tickets carry the date on which the screen was loaded. The weekday is
    // in the system's language.
    m_label1->setText(QLocale().toString(m_clock.now().date(), QStringLiteral("dddd dd/MM/yyyy")));
    m_label1->adjustSize();
    placeDateLabel();

    const auto rects = ScreenLayout::buttonRects(m_resolutionCode, m_activeServiceCount);
    if (!rects) {
        qCWarning(lcKiosk) << "no button layout for" << m_activeServiceCount
                           << "services at resolution" << m_resolutionCode;
        return;
    }
    for (int i = 0; i < rects->size(); ++i) {
        m_bottone[i]->setGeometry(Twips::toPixels(rects->at(i)));
        m_bottone[i]->show();
    }
}

void FrontEnd::placeDateLabel()
{
    const auto resolution = Resolutions::byCode(m_resolutionCode);
    const int left =
        dateLabelLeft(resolution->referenceWidth, Twips::fromPixels(m_label1->width()));
    m_label1->move(Twips::toPixels(left), m_label1->y());
}

void FrontEnd::loadBackground(const QString &path)
{
    m_background = QPixmap();
    if (path.isEmpty())
        return;
    if (m_background.load(path)) {
        qCInfo(lcKiosk).noquote() << "background picture" << LogText::escaped(path)
                                  << m_background.size();
        return;
    }
    const auto fault = BackgroundPicture::faultOf(path);
    qCWarning(lcKiosk).noquote() << "background picture cannot be loaded,"
                                 << BackgroundPicture::logWord(fault) + u':'
                                 << LogText::escaped(path);
    if (m_state.backgroundWarningShown)
        return;
    m_state.backgroundWarningShown = true;
    MsgForm::showMessage(m_shell, this, BackgroundPicture::messageLines(fault));
}

void FrontEnd::centreOnScreen()
{
    QScreen *display = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!display)
        return;
    const QRect area = display->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void FrontEnd::Form_Activate()
{
    // The date that tickets carry: the date label without its weekday, or the label's
    // text as it is when it holds no date.
    const QString caption = m_label1->text();
    const QString last = caption.section(u' ', -1);
    const QDate date = QDate::fromString(last, QStringLiteral("dd/MM/yyyy"));
    m_context.screenDateText =
        date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : caption;
}

void FrontEnd::setSpeech(SpeechEngine &engine, const SpeechSettings &settings)
{
    m_speech = std::make_unique<SpeechSession>(engine, settings);
    m_speech->setServices(m_combo1);
    m_speech->setOutOfService(m_outOfService ? m_bannerReason->text() : QString(), 0);
    QList<QPushButton *> buttons;
    for (int n = 1; n <= m_activeServiceCount; ++n)
        buttons.append(m_bottone[n - 1]);
    m_accessView =
        std::make_unique<AccessView>(this, buttons, QList<QLabel *>{m_titoloTXT, m_label1},
                                     m_pannelloAttesaStampa, kWaitingCaption);
    m_speechClock.start();
    // Every key reaches the screen itself: a button holding the keyboard focus would take
    // Enter as a click on that button, whichever service the customer selected.
    for (QPushButton *button : buttons) {
        button->setFocusPolicy(Qt::NoFocus);
        button->installEventFilter(this); // the touches
    }
}

bool FrontEnd::keypadKey(int keyCode)
{
    if (!m_speech)
        return false;
    const auto key = accessKeyFor(keyCode);
    if (!key)
        return false;
    const int slot = m_speech->key(*key, m_speechClock.elapsed());
    followSpeech();
    if (slot > 0)
        Bottone_Click(slot); // the road of a touch, with all its guards
    return true;
}

void FrontEnd::followSpeech()
{
    if (!m_accessView)
        return;
    m_accessView->setHighContrast(m_speech->highContrast());
    if (m_pannelloAttesaStampa->isVisible()) // a notice on screen as the view changes
        placeWaitingPanel();
    m_accessView->showFocus(m_speech->focus());
    update();
}

void FrontEnd::mousePressEvent(QMouseEvent *event)
{
    touched();
    QDialog::mousePressEvent(event);
}

void FrontEnd::touched()
{
    // Any touch, on a button or beside them, cuts the keypad customer's words off.
    if (m_speech)
        m_speech->touch(m_speechClock.elapsed());
}

bool FrontEnd::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress)
        touched();
    return QDialog::eventFilter(watched, event);
}

bool FrontEnd::Form_KeyDown(int keyCode)
{
    if (keyCode != Qt::Key_Escape)
        return false;
    qCInfo(lcKiosk) << "kiosk screen closed with Escape";
    close();
    return true;
}

void FrontEnd::Timer1_Timer()
{
    if (m_speech && m_speech->tick(m_speechClock.elapsed()))
        followSpeech();
    if (!m_restartCheck)
        return;
    if (m_restartCheck->tick(m_clock.now(), m_issuer.issuing()))
        NightlyRestart();
    else if (m_restartCheck->pending() && m_issuer.holding())
        m_issuer.endHold(); // the restart waits for a ticket, not for a hold after it
}

void FrontEnd::NightlyRestart()
{
    qCInfo(lcKiosk) << "nightly restart at" << m_clock.now().toString(Qt::ISODate);
    m_state.restartRequested = true;
    m_state.unattendedRestart = true;
    close();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

void FrontEnd::Bottone_Click(int index)
{
    if (index < 1 || index > m_activeServiceCount)
        return;
    if (m_outOfService) {
        qCInfo(lcKiosk) << "touch on slot" << index << "ignored: the printer cannot print";
        return;
    }
    if (m_enabledAt.isValid()) {
        const qint64 since = m_enabledAt.msecsTo(m_clock.now());
        if (since >= 0 && since < kBounceMs) {
            qCInfo(lcKiosk) << "touch on slot" << index << since
                            << "ms after the screen came back ignored as a bounce";
            return;
        }
    }
    m_issuer.IssueTicket(*this, index);
    // The state may have changed with the ticket (the roll ran out): asked at once, not
    // at the next poll.
    if (PrinterMonitor *monitor = m_issuer.printerMonitor(); monitor && isVisible())
        monitor->poll();
}

void FrontEnd::placeWaitingPanel()
{
    if (m_accessView && m_accessView->highContrast()) { // the larger panel of that view
        m_pannelloAttesaStampa->move((width() - m_pannelloAttesaStampa->width()) / 2,
                                     (height() - m_pannelloAttesaStampa->height()) / 2);
        return;
    }
    const float left = (float(Twips::fromPixels(width())) - kPanelWidth) / 2;
    const float top = (float(Twips::fromPixels(height())) - kPanelCentringHeight) / 2;
    m_pannelloAttesaStampa->move(Twips::toPixels(left), Twips::toPixels(top));
}

void FrontEnd::showWaitingPanel()
{
    m_noticeTimer->stop();
    restoreWaitingCaption();
    placeWaitingPanel();
    m_pannelloAttesaStampa->show();
    m_pannelloAttesaStampa->raise();
    // The issue does not return to the event loop before its database work.
    m_pannelloAttesaStampa->repaint();
}

void FrontEnd::hideWaitingPanel()
{
    m_pannelloAttesaStampa->hide();
}

void FrontEnd::restoreWaitingCaption()
{
    m_pannelloAttesaStampa->setWordWrap(false);
    m_pannelloAttesaStampa->setText(kWaitingCaption);
}

void FrontEnd::ticketPrinted()
{
    // Spoken while the waiting message holds the screen, not after it.
    if (m_speech)
        m_speech->ticketIssued(m_context.issuedNumber, m_context.issuedServiceName,
                               m_context.peopleAhead, m_speechClock.elapsed());
}

void FrontEnd::showNotice(const QString &text)
{
    qCInfo(lcKiosk).noquote() << "notice shown:" << QString(text).replace(u'\n', u' ');
    if (m_speech)
        m_speech->notice(text, m_speechClock.elapsed());
    m_pannelloAttesaStampa->setWordWrap(true);
    m_pannelloAttesaStampa->setText(text);
    m_pannelloAttesaStampa->show();
    m_pannelloAttesaStampa->raise();
    m_noticeTimer->start();
}

void FrontEnd::dropHeldInput()
{
    // A round trip to the display server first, so that touches made during the issue
    // and still on their way are in the queue too.
    QGuiApplication::sync();
    QCoreApplication::processEvents();
}

void FrontEnd::setScreenEnabled(bool enabled)
{
    if (enabled && !isEnabled()) {
        dropHeldInput();
        m_enabledAt = m_clock.now();
    }
    setEnabled(enabled);
}

void FrontEnd::keyPressEvent(QKeyEvent *event)
{
    // Escape first; then the keypad customer's keys; every other key is ignored.
    if (Form_KeyDown(event->key()) || keypadKey(event->key()))
        event->accept();
    else
        event->ignore();
}

void FrontEnd::closeEvent(QCloseEvent *event)
{
    QDialog::closeEvent(event);
    if (Form_QueryUnload())
        event->accept();
}

bool FrontEnd::Form_QueryUnload()
{
    return true; // a request to close the screen, whatever its origin, is never refused
}

void FrontEnd::done(int result)
{
    m_timer1->stop();
    if (PrinterMonitor *monitor = m_issuer.printerMonitor()) {
        monitor->stop();
        disconnect(monitor, nullptr, this, nullptr);
    }
    QDialog::done(result);
}

void FrontEnd::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    centreOnScreen();
    activateWindow();
    Form_Activate();
}

void FrontEnd::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
}

void FrontEnd::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    if (m_background.isNull() || (m_accessView && m_accessView->highContrast()))
        return;
    // At its natural size from the top-left corner; the screen colour shows elsewhere.
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_background);
}

void FrontEnd::createPrinterControls()
{
    // Across the middle of the screen, over the buttons, which take no touches meanwhile.
    m_printerBanner = new QWidget(this);
    m_printerBanner->setObjectName(QStringLiteral("BannerStampante"));
    m_printerBanner->setAutoFillBackground(true);
    QPalette palette = m_printerBanner->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, QColor(160, 0, 0));
        palette.setColor(group, QPalette::WindowText, Qt::white);
    }
    m_printerBanner->setPalette(palette);
    auto *layout = new QVBoxLayout(m_printerBanner);
    auto *title = new QLabel(QStringLiteral("Servizio momentaneamente sospeso"), m_printerBanner);
    m_bannerTitle = title;
    m_bannerReason = new QLabel(m_printerBanner);
    m_bannerReason->setObjectName(QStringLiteral("MotivoSospensione"));
    QFont titleFont(QStringLiteral("DejaVu Sans"));
    titleFont.setPixelSize(kBannerTitlePixels);
    titleFont.setBold(true);
    title->setFont(titleFont);
    QFont reasonFont(QStringLiteral("DejaVu Sans"));
    reasonFont.setPixelSize(kBannerReasonPixels);
    m_bannerReason->setFont(reasonFont);
    for (QLabel *label : {title, m_bannerReason}) {
        label->setAlignment(Qt::AlignCenter);
        label->setTextFormat(Qt::PlainText);
        label->setPalette(palette);
        layout->addWidget(label);
    }
    m_printerBanner->hide();

    // Small, in a corner no button takes, where staff see it.
    m_paperNotice = new QLabel(QStringLiteral("Carta in esaurimento"), this);
    m_paperNotice->setObjectName(QStringLiteral("AvvisoCarta"));
    m_paperNotice->setTextFormat(Qt::PlainText);
    QFont noticeFont(QStringLiteral("DejaVu Sans"));
    noticeFont.setPixelSize(16);
    noticeFont.setBold(true);
    m_paperNotice->setFont(noticeFont);
    m_paperNotice->setAutoFillBackground(true);
    QPalette noticePalette = m_paperNotice->palette();
    noticePalette.setColor(QPalette::Window, QColor(255, 200, 0));
    noticePalette.setColor(QPalette::WindowText, Qt::black);
    m_paperNotice->setPalette(noticePalette);
    m_paperNotice->setContentsMargins(8, 4, 8, 4);
    m_paperNotice->adjustSize();
    m_paperNotice->hide();
}

void FrontEnd::placePaperNotice()
{
    // The first corner that no button and no label covers: the layouts leave the bottom
    // free at every resolution, but a title or a date may reach a corner.
    const QSize size = m_paperNotice->sizeHint();
    constexpr int kMargin = 6;
    const QList<QRect> candidates{
        QRect(QPoint(kMargin, height() - size.height() - kMargin), size),
        QRect(QPoint(width() - size.width() - kMargin, height() - size.height() - kMargin), size),
        QRect(QPoint((width() - size.width()) / 2, height() - size.height() - kMargin), size),
    };
    for (const QRect &candidate : candidates) {
        bool free = true;
        for (const QWidget *child : findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child != m_paperNotice && child != m_printerBanner &&
                child != m_pannelloAttesaStampa && !child->isHidden() &&
                child->geometry().intersects(candidate))
                free = false;
        }
        if (free) {
            m_paperNotice->setGeometry(candidate);
            return;
        }
    }
    m_paperNotice->setGeometry(candidates.first());
}

void FrontEnd::showPrinterState(const PrinterState &state)
{
    m_outOfService = !state.canPrint();
    m_bannerReason->setText(state.text());
    // The paper running low is for staff: only a refusal is spoken.
    if (m_speech)
        m_speech->setOutOfService(m_outOfService ? state.text() : QString(),
                                  m_speechClock.elapsed());
    m_printerBanner->setGeometry(0, (height() - 160) / 2, width(), 160);
    // Whole on the narrowest screen too (800 pixels): smaller letters, never cut ends.
    const QMargins margins = m_printerBanner->layout()->contentsMargins();
    const int room = width() - margins.left() - margins.right() - 2 * kBannerPadding;
    fitFontToWidth(*m_bannerTitle, kBannerTitlePixels, room);
    fitFontToWidth(*m_bannerReason, kBannerReasonPixels, room);
    m_printerBanner->setVisible(m_outOfService);
    if (m_outOfService)
        m_printerBanner->raise();
    if (m_pannelloAttesaStampa->isVisible())
        m_pannelloAttesaStampa->raise(); // the customer's notice is read first
    for (int n = 1; n <= m_activeServiceCount; ++n)
        m_bottone[n - 1]->setEnabled(!m_outOfService);
    m_paperNotice->setVisible(state.condition == PrinterState::Condition::PaperNearEnd);
    if (m_paperNotice->isVisible())
        m_paperNotice->raise();
}

} // namespace nx7
