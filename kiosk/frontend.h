#pragma once

#include "kioskcontroller.h"
#include "printerstate.h"
#include "screenlayout.h"
#include "screensettings.h"
#include "stationstate.h"
#include "stores.h"
#include "ticketscreen.h"

#include <QDialog>
#include <QPixmap>
#include <QStringList>

#include <array>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace nx7 {

class AccessView;
class Clock;
class PrinterStateView;
class Shell;
struct KioskScreenData;

// What a kiosk screen is made with; the kiosk's assembly fills it once.
struct KioskScreenParts
{
    const Stores &stores;
    StationState &state;
    Shell &shell;
    Clock &clock;
    TicketIssuer &issuer;
    KioskVoice voice;                        // the keypad's voice; none: the keypad is ignored
    KioskScreenObserver *observer = nullptr; // the service's state
};

// The kiosk screen: one coloured button per active service, the title and the date, on
// a borderless window that covers the display. It draws; its rules are the controller's.
// Closes on Escape and every night at 03:31:00 for the unattended numbering restart.
class FrontEnd : public QDialog, public TicketScreen, private KioskView
{
    Q_OBJECT
public:
    explicit FrontEnd(const KioskScreenParts &parts, QWidget *parent = nullptr);
    ~FrontEnd() override;

    // Loads the services and the configuration and lays the screen out. False when no
    // screen is to be shown: the server database was missing (the server-path form was
    // shown) or an error ended the program.
    bool Form_Load();

    // A screen made and loaded, ready to be shown modally; null when its load decided
    // that no screen is to be shown.
    static std::unique_ptr<FrontEnd> createLoaded(const KioskScreenParts &parts, QWidget *parent);

    void Form_Activate();
    // True when the key was acted on: Escape closes the screen, the keypad keys serve the
    // keypad customer.
    bool Form_KeyDown(int keyCode, KeyPress press = {});
    void Timer1_Timer();
    // Whether a request to close the screen is granted.
    bool Form_QueryUnload();
    void NightlyRestart(); // the click of PushButton1
    void Bottone_Click(int index);

    const KioskController &controller() const { return m_controller; }
    AccessView *accessView() const { return m_accessView.get(); }

    // TicketScreen
    TicketContext &ticketContext() override { return m_context; }
    QString buttonCaption(int slot) const override;
    void showWaitingPanel() override;
    void hideWaitingPanel() override;
    void showNotice(const QString &text) override;
    void ticketPrinted() override;
    void setScreenEnabled(bool enabled) override;
    QWidget *screenWindow() override { return this; }

    // Shows the printer's state: out of service (banner, buttons take no touches) while it
    // cannot print, the small "Carta in esaurimento" notice while its paper runs low.
    void showPrinterState(const PrinterState &state);
    bool outOfService() const { return m_controller.outOfService(); }
    QWidget *printerBanner() const;
    QLabel *paperNotice() const;

    int resolutionCode() const { return m_resolutionCode; }
    int activeServiceCount() const { return int(m_combo1.size()); }
    // The hidden list Combo1: item n - 1 is the service name of slot n.
    const QStringList &serviceNames() const { return m_combo1; }
    QPushButton *bottone(int index) const; // 1..20
    QLabel *titoloTXT() const { return m_titoloTXT; }
    QLabel *label1() const { return m_label1; }
    QLabel *waitingPanel() const { return m_pannelloAttesaStampa; }
    QPushButton *pushButton1() const { return m_pushButton1; }
    QTimer *timer1() const { return m_timer1; }
    const QPixmap &backgroundPicture() const { return m_background; }

    // How long a notice stays on the waiting panel.
    static constexpr int kNoticeMs = 5000;

    static QColor screenColour();
    // The background colour of button item 1..20.
    static QColor buttonColour(int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void done(int result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    // KioskView
    void closeScreen() override { close(); }
    void showAccess(int focusSlot, bool highContrast) override;

    void createControls();
    void parkButtons();
    void centreOnScreen();
    void applyResolution(const Resolution &resolution);
    void ApplyScreenConfiguration(const KioskScreenData &data);
    void ApplyScreenLayout(const ScreenSettings &settings);
    // `setting` with a size the screen can show below the label's top, logged with its
    // `field` when clamped.
    FontSetting fittingFont(FontSetting setting, const QLabel &label, const QString &field) const;
    // More active services than the resolution's layouts hold: the log, and the operator.
    void reportServicesLeftOut(int activeServices);
    void loadBackground(const QString &path);
    void placeDateLabel();
    void finishLoad(int servicesLeftOut);
    void prepareKeypad();
    void restoreWaitingCaption();
    void placeWaitingPanel();
    // Delivers the input that queued up while the screen was held, to the held screen,
    // which drops it.
    void dropHeldInput();

    Stores m_stores;
    StationState &m_state;
    Shell &m_shell;
    Clock &m_clock;
    TicketIssuer &m_issuer;
    KioskController m_controller;

    TicketContext m_context;
    int m_resolutionCode = 0;
    QStringList m_combo1;
    QPixmap m_background;

    std::array<QPushButton *, kSlotCount> m_bottone{};
    QLabel *m_titoloTXT = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_pannelloAttesaStampa = nullptr;
    QPushButton *m_pushButton1 = nullptr;
    QTimer *m_timer1 = nullptr;
    QTimer *m_noticeTimer = nullptr;
    std::unique_ptr<PrinterStateView> m_printerView;
    std::unique_ptr<AccessView> m_accessView;
};

} // namespace nx7
