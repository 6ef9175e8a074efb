#pragma once

#include <QObject>
#include <QString>

namespace nx7 {

// The one Italian line that tells a technician what the kiosk is doing (shown by
// `systemctl status`): which screen is up, the printer, the server, the tickets issued
// since the program started. Each setter that changes the line emits `changed`.
class KioskStatus : public QObject
{
    Q_OBJECT
public:
    enum class Screen
    {
        Starting,
        StartupWindow,
        KioskScreen
    };

    enum class Server
    {
        Unknown,
        Reachable,
        Unreachable,
        Refused // it answered, but refused the kiosk's statement for lack of rights
    };

    explicit KioskStatus(QObject *parent = nullptr);

    void setScreen(Screen screen, int serviceCount = 0);
    // The printer's state as the operator reads it ("pronta", "carta esaurita", ...).
    void setPrinterState(const QString &text);
    // The tickets are numbered by the server for every kiosk of the installation.
    void setNumberingShared(bool shared);
    void setServerReachable(bool reachable);
    void setServer(Server server);
    // The keypad's voice cannot be heard (no sound device, or one that failed).
    void setVoiceUsable(bool usable);
    // The kiosk went back to serving by itself after a stop nobody asked for (a crash, the
    // watchdog, a power cut), on a day whose numbering started at `dayStarted` ("HH:mm").
    void setResumedWithoutOperator(const QString &dayStarted);
    void setTicketsIssued(int count);
    void addTicketIssued() { setTicketsIssued(m_tickets + 1); }

    int ticketsIssued() const { return m_tickets; }
    QString line() const;

signals:
    void changed(const QString &line);

private:
    void update();

    Screen m_screen = Screen::Starting;
    int m_serviceCount = 0;
    QString m_printer;
    Server m_server = Server::Unknown;
    int m_tickets = 0;
    bool m_voiceUsable = true;
    bool m_numberingShared = false;
    QString m_resumedDayStart;
    QString m_line;
};

} // namespace nx7
