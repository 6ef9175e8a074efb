#pragma once

#include "errors.h"
#include "nightlyrestart.h"
#include "printerstate.h"
#include "screensettings.h"
#include "stationstate.h"
#include "stores.h"
#include "ticketscreen.h"

#include <QDate>
#include <QDialog>
#include <QElapsedTimer>
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
class SpeechEngine;
class SpeechSession;
struct SpeechSettings;
class Database;
class Shell;

// The kiosk screen: one coloured button per active service, the title and the date, on
// a borderless window that covers the display. Closes on Escape and every night at
// 03:31:00 for the unattended numbering restart.
class FrontEnd : public QDialog, public TicketScreen
{
    Q_OBJECT
public:
    FrontEnd(const Stores &stores, StationState &state, Shell &shell, Clock &clock,
             TicketIssuer &issuer, QWidget *parent = nullptr);
    ~FrontEnd() override;

    // Loads the services and the configuration and lays the screen out. False when no
    // screen is to be shown: the server database was missing (the server-path form was
    // shown) or an error ended the program.
    bool Form_Load();

    // A screen made and loaded, ready to be shown modally; null when its load decided
    // that no screen is to be shown.
    static std::unique_ptr<QDialog> createLoaded(const Stores &stores, StationState &state,
                                                 Shell &shell, Clock &clock, TicketIssuer &issuer,
                                                 QWidget *parent);

    void Form_Activate();
    // True when the key was acted on (Escape closes the screen).
    bool Form_KeyDown(int keyCode);
    void Timer1_Timer();
    // Whether a request to close the screen is granted.
    bool Form_QueryUnload();
    void NightlyRestart(); // the click of PushButton1
    void Bottone_Click(int index);

    // Lets a customer who cannot see or reach the screen use the keypad beside it, heard
    // through the engine. Without it the keypad keys are ignored.
    void setSpeech(SpeechEngine &engine, const SpeechSettings &settings);
    SpeechSession *speech() const { return m_speech.get(); }
    AccessView *accessView() const { return m_accessView.get(); }
    // True when the key was a keypad customer's key and was acted on.
    bool keypadKey(int keyCode);

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
    bool outOfService() const { return m_outOfService; }
    QWidget *printerBanner() const { return m_printerBanner; }
    QLabel *paperNotice() const { return m_paperNotice; }

    int resolutionCode() const { return m_resolutionCode; }
    int activeServiceCount() const { return m_activeServiceCount; }
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
    // Touches this soon after the screen is given back are taken for a bounce of the
    // touch that issued the ticket.
    static constexpr int kBounceMs = 400;

    static QColor screenColour();
    // The background colour of button item 1..20.
    static QColor buttonColour(int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void done(int result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void createControls();
    void parkButtons();
    void centreOnScreen();
    Status applyResolution(Database &db);
    Status loadActiveServices(Database &db);
    Status ApplyScreenConfiguration(Database &db);
    void ApplyScreenLayout(const ScreenSettings &settings);
    void loadBackground(const QString &path);
    void placeDateLabel();
    void finishLoad();
    void restoreWaitingCaption();
    void placeWaitingPanel();
    void createPrinterControls();
    void placePaperNotice();
    // Delivers the input that queued up while the screen was held, to the held screen,
    // which drops it.
    void dropHeldInput();
    // The keypad customer's view follows the session: focus frame and contrast.
    void followSpeech();
    void touched();

    Stores m_stores;
    StationState &m_state;
    Shell &m_shell;
    Clock &m_clock;
    TicketIssuer &m_issuer;

    TicketContext m_context;
    int m_resolutionCode = 0;
    int m_targetWidth = 0; // twips
    int m_targetHeight = 0;
    int m_activeServiceCount = 0;
    QStringList m_combo1;
    QPixmap m_background;
    std::unique_ptr<NightlyRestartCheck> m_restartCheck;

    std::array<QPushButton *, kSlotCount> m_bottone{};
    QLabel *m_titoloTXT = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_pannelloAttesaStampa = nullptr;
    QPushButton *m_pushButton1 = nullptr;
    QTimer *m_timer1 = nullptr;
    QTimer *m_noticeTimer = nullptr;
    QDateTime m_enabledAt; // when the screen was last given back after an issue
    QWidget *m_printerBanner = nullptr;
    QLabel *m_bannerTitle = nullptr;
    QLabel *m_bannerReason = nullptr;
    QLabel *m_paperNotice = nullptr;
    bool m_outOfService = false;
    std::unique_ptr<SpeechSession> m_speech;
    std::unique_ptr<AccessView> m_accessView;
    QElapsedTimer m_speechClock;
};

} // namespace nx7
