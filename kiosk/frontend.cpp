#include "frontend.h"

#include "accessview.h"
#include "backgroundpicture.h"
#include "clock.h"
#include "frontenddesign.h"
#include "imporete.h"
#include "kiosklog.h"
#include "kioskscreendata.h"
#include "logtext.h"
#include "msgform.h"
#include "printerstateview.h"
#include "screenfit.h"
#include "shell.h"

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

#include <limits>

namespace nx7 {

using namespace FrontEndDesign;

FrontEnd::FrontEnd(const KioskScreenParts &parts, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_stores(parts.stores),
      m_state(parts.state), m_shell(parts.shell), m_clock(parts.clock), m_issuer(parts.issuer),
      m_controller(parts.state, parts.clock, parts.issuer, *this, *this, parts.voice,
                   parts.observer)
{
    setObjectName(QStringLiteral("FrontEnd"));
    setWindowTitle(QStringLiteral("Prendi il tuo Numero qui"));
    // A touch screen shows no pointer; the start-up window keeps it for the operator's mouse.
    setCursor(Qt::BlankCursor);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, screenColour());
    setPalette(palette);
    resize(Twips::toPixels(FrontEndDesign::kWidth), Twips::toPixels(FrontEndDesign::kHeight));
    createControls();
    m_printerView = std::make_unique<PrinterStateView>(this);
}

FrontEnd::~FrontEnd()
{
    // A screen destroyed without being closed leaves no poll behind.
    if (PrinterMonitor *monitor = m_issuer.printerMonitor())
        monitor->stop();
}

QColor FrontEnd::screenColour()
{
    return FrontEndDesign::screenColour();
}

QColor FrontEnd::buttonColour(int index)
{
    return FrontEndDesign::buttonColour(index);
}

void FrontEnd::createControls()
{
    const FrontEndDesign::Controls controls = FrontEndDesign::create(this);
    m_bottone = controls.bottone;
    m_titoloTXT = controls.titoloTXT;
    m_label1 = controls.label1;
    m_pannelloAttesaStampa = controls.pannelloAttesaStampa;
    m_pushButton1 = controls.pushButton1;
    m_timer1 = controls.timer1;
    for (int n = 1; n <= kSlotCount; ++n)
        connect(m_bottone[n - 1], &QPushButton::clicked, this, [this, n] { Bottone_Click(n); });
    connect(m_pushButton1, &QPushButton::clicked, this, [this] { NightlyRestart(); });
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

std::unique_ptr<FrontEnd> FrontEnd::createLoaded(const KioskScreenParts &parts, QWidget *parent)
{
    auto screen = std::make_unique<FrontEnd>(parts, parent);
    if (!screen->Form_Load())
        return nullptr;
    return screen;
}

bool FrontEnd::Form_Load()
{
    parkButtons();
    for (int n = 1; n <= kSlotCount; ++n)
        m_context.slotNextNumber[n] = m_state.serviceCounters[n];

    const KioskScreenData data = KioskScreenData::read(m_stores, m_state.serverPath);
    if (data.outcome == KioskScreenData::Outcome::ServerMissing) {
        ImpoRete::showSetup(m_shell, this);
        if (!m_shell.programEnded())
            m_shell.endProgram();
        return false;
    }
    if (data.resolution)
        applyResolution(*data.resolution);
    if (data.outcome == KioskScreenData::Outcome::Failed) {
        m_shell.reportRuntimeError(this, data.error);
        return false;
    }
    int leftOut = 0;
    if (data.outcome == KioskScreenData::Outcome::Loaded) {
        // One service more at the counter stations must not take every button away: the
        // services the layouts hold keep theirs.
        const int shown = ScreenFit::servicesShown(m_resolutionCode, data.activeServiceCount());
        for (int n = 1; n <= shown; ++n)
            m_context.slotServiceId[n] = data.serviceIds.at(n - 1);
        m_combo1 = data.serviceNames.first(shown);
        leftOut = data.activeServiceCount() + data.servicesBeyondSlots - shown;
        if (leftOut > 0)
            reportServicesLeftOut(shown + leftOut);
        if (data.settings)
            ApplyScreenConfiguration(data);
    }
    finishLoad(leftOut);
    return true;
}

void FrontEnd::reportServicesLeftOut(int activeServices)
{
    const int most = ScreenFit::mostServices(m_resolutionCode);
    qCWarning(lcKiosk).noquote() << QStringLiteral("%1 active services, resolution %2 lays out "
                                                   "%3: the first %3 get a button")
                                        .arg(activeServices)
                                        .arg(m_resolutionCode)
                                        .arg(most);
    // Told to the operator who started the kiosk; a restart nobody attends must not wait
    // for a message to be closed (the status line and the metrics say it then).
    if (m_state.unattendedRestart)
        return;
    MsgForm::showMessage(
        m_shell, this,
        {ScreenFit::tooManyServicesText(m_resolutionCode, activeServices),
         QStringLiteral("Sul totem compaiono solo i primi %1 servizi.").arg(most),
         QStringLiteral("Disattivare quelli in più o scegliere una risoluzione maggiore.")});
}

void FrontEnd::finishLoad(int servicesLeftOut)
{
    m_timer1->start();
    m_controller.loaded(m_combo1, servicesLeftOut);
    prepareKeypad();
    m_printerView->placePaperNotice(m_pannelloAttesaStampa);
    if (PrinterMonitor *monitor = m_issuer.printerMonitor()) {
        connect(monitor, &PrinterMonitor::printerStateChanged, this, &FrontEnd::showPrinterState);
        // Never asked in the middle of a ticket. The issuer owns the monitor and outlives
        // the screen: the question does not reach back into the screen.
        monitor->start([&issuer = m_issuer] { return issuer.issuing(); });
        showPrinterState(monitor->state());
    }
    qCInfo(lcKiosk) << "kiosk screen loaded: resolution" << m_resolutionCode << "services"
                    << activeServiceCount();
}

void FrontEnd::prepareKeypad()
{
    if (!m_controller.speech())
        return;
    QList<QPushButton *> buttons(m_bottone.begin(), m_bottone.begin() + activeServiceCount());
    m_accessView =
        std::make_unique<AccessView>(this, buttons, QList<QLabel *>{m_titoloTXT, m_label1},
                                     m_pannelloAttesaStampa, kWaitingCaption);
    // Every key reaches the screen itself: a button holding the keyboard focus would take
    // Enter as a click on that button, whichever service the customer selected.
    for (QPushButton *button : buttons) {
        button->setFocusPolicy(Qt::NoFocus);
        button->installEventFilter(this); // the touches
    }
}

void FrontEnd::applyResolution(const Resolution &resolution)
{
    m_resolutionCode = resolution.code;
    resize(Twips::toPixels(resolution.width), Twips::toPixels(resolution.height));
    centreOnScreen();
}

void FrontEnd::ApplyScreenConfiguration(const KioskScreenData &data)
{
    const ScreenSettings &settings = *data.settings;
    m_titoloTXT->setVisible(settings.titleVisible);
    m_label1->setVisible(settings.dateVisible);
    ApplyScreenLayout(settings);

    for (int i = 0; i < m_combo1.size(); ++i) {
        QPushButton *button = m_bottone[i];
        button->setText(m_combo1.at(i) + u' ');
        button->setFont(settings.button.applyTo(button->font()));
        setTextColour(button, QPalette::ButtonText, settings.button.colour);
    }
    applyFont(m_titoloTXT,
              fittingFont(settings.title, *m_titoloTXT, QStringLiteral("FontSizeTitolo")));
    applyFont(m_label1, fittingFont(settings.date, *m_label1, QStringLiteral("FontSizeData")));
    // Placed again with the date font, or a date font larger than the design one would
    // push the end of the date off the screen.
    placeDateLabel();
}

FontSetting FrontEnd::fittingFont(FontSetting setting, const QLabel &label,
                                  const QString &field) const
{
    // A caption higher or wider than the screen is cut off, unreadable.
    const QFont base = label.font();
    const QString caption = label.text();
    const int widthLeft = width() - Twips::toPixels(240); // the date's margin on the right
    const auto heightAt = [&](int pointSize) {
        FontSetting at = setting;
        at.pointSize = pointSize;
        const QFontMetrics metrics(at.applyTo(base));
        // Too wide is refused as too high is: both grow with the size.
        return metrics.horizontalAdvance(caption) <= widthLeft ? metrics.height()
                                                               : std::numeric_limits<int>::max();
    };
    const int fits = ScreenFit::fittingPointSize(setting.pointSize, height() - label.y(), heightAt);
    if (fits < setting.pointSize) {
        qCWarning(lcKiosk).noquote() << ScreenFit::clampedSizeText(field, setting.pointSize, fits);
        setting.pointSize = fits;
    }
    return setting;
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

    const auto rects = ScreenLayout::buttonRects(m_resolutionCode, activeServiceCount());
    if (!rects) {
        qCWarning(lcKiosk) << "no button layout for" << activeServiceCount()
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

void FrontEnd::showAccess(int focusSlot, bool highContrast)
{
    if (!m_accessView)
        return;
    m_accessView->setHighContrast(highContrast);
    if (m_pannelloAttesaStampa->isVisible()) // a notice on screen as the view changes
        placeWaitingPanel();
    m_accessView->showFocus(focusSlot);
    update();
}

void FrontEnd::mousePressEvent(QMouseEvent *event)
{
    m_controller.touchedScreen();
    QDialog::mousePressEvent(event);
}

bool FrontEnd::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress)
        m_controller.touchedScreen();
    return QDialog::eventFilter(watched, event);
}

bool FrontEnd::Form_KeyDown(int keyCode, KeyPress press)
{
    return m_controller.key(keyCode, press);
}

void FrontEnd::Timer1_Timer()
{
    m_controller.tick();
}

void FrontEnd::NightlyRestart()
{
    m_controller.nightlyRestart();
}

void FrontEnd::Bottone_Click(int index)
{
    if (!m_controller.touchSlot(index))
        return;
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
    m_controller.ticketPrinted(m_context);
}

void FrontEnd::showNotice(const QString &text)
{
    m_controller.noticeShown(text);
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
        m_controller.screenGivenBack();
    }
    setEnabled(enabled);
}

void FrontEnd::keyPressEvent(QKeyEvent *event)
{
    // Escape first; then the keypad customer's keys; every other key is ignored.
    if (Form_KeyDown(event->key(), {event->isAutoRepeat(), qint64(event->timestamp())}))
        event->accept();
    else
        event->ignore();
}

void FrontEnd::keyReleaseEvent(QKeyEvent *event)
{
    // A held key comes as presses and releases; when each was sent tells them apart.
    m_controller.keyReleased(event->key(), qint64(event->timestamp()));
    QDialog::keyReleaseEvent(event);
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
    // Over the start-up window even when a message at the load gave it back the focus.
    raise();
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

QWidget *FrontEnd::printerBanner() const
{
    return m_printerView->banner();
}

QLabel *FrontEnd::paperNotice() const
{
    return m_printerView->paperNotice();
}

void FrontEnd::showPrinterState(const PrinterState &state)
{
    m_controller.setPrinterState(state);
    m_printerView->show(state);
    if (m_pannelloAttesaStampa->isVisible())
        m_pannelloAttesaStampa->raise(); // the customer's notice is read first
    for (int n = 1; n <= activeServiceCount(); ++n)
        m_bottone[n - 1]->setEnabled(!outOfService());
}

} // namespace nx7
