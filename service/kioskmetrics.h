#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QTimer;

namespace nx7 {

// The kiosk's state for the site's monitoring, in the Prometheus text format, written to
// a file that the node exporter's text-file collector reads: replaced whole (a temporary
// file in the same folder, then a rename) at each change and every few seconds, so that
// its age says whether the kiosk is alive. No timestamps, no ticket numbers, no customer
// data: slots, reasons and states are the only labels.
class KioskMetrics : public QObject
{
    Q_OBJECT
public:
    // The label values the kiosk may report; every one is written, 0 or 1, so that an
    // alert sees a state that was never entered as 0 rather than as missing.
    struct Labels
    {
        QString version;
        QStringList windows;        // "starting", "startup_window", "kiosk_screen"
        QStringList printerStates;  // "ready", "paper_near_end", ...
        QStringList refusalReasons; // "printer_unavailable", ...
    };

    // Well under the collector's usual scrape interval and the two minutes after which a
    // file that is not renewed means a kiosk that is gone.
    static constexpr int kRefreshMs = 15000;

    // An empty path writes nothing (a kiosk started by hand, the tests); `startSeconds` is
    // the time the kiosk started, in seconds since the epoch.
    KioskMetrics(QString path, Labels labels, qint64 startSeconds, QObject *parent = nullptr);

    const QString &path() const { return m_path; }

    void setWindow(const QString &window, int activeServices);
    void setPrinterState(const QString &state);
    // Reached but refused is still a reachable server.
    void setServer(bool reachable, bool refused);
    // Connections to the server made again after one was lost (a failover, a restart).
    void setServerReconnections(quint64 count);
    void ticketIssued(int slot, qint64 atSeconds);
    void ticketNotPrinted(int slot);
    void ticketRefused(int slot, const QString &reason);
    // The wait estimated for the slot's last ticket (the middle of its range); none when
    // the kiosk could not know it, and the slot's gauge is then absent.
    void setEstimatedWait(int slot, std::optional<qint64> seconds);

    QByteArray text() const;
    // Writes the file now; false (logged once per run of failures) when it cannot.
    bool write();

private:
    void changed();

    QString m_path;
    Labels m_labels;
    qint64 m_startSeconds;
    QTimer *m_refresh = nullptr;
    QString m_window;
    int m_activeServices = 0;
    QString m_printerState; // empty until asked
    std::optional<bool> m_serverReachable;
    bool m_serverRefused = false;
    quint64 m_serverReconnections = 0;
    qint64 m_lastTicketSeconds = 0;
    int m_highestSlot = 0;
    QMap<int, quint64> m_issued;
    QMap<int, quint64> m_notPrinted;
    QMap<std::pair<int, QString>, quint64> m_refused;
    QMap<int, qint64> m_estimatedWait;
    QByteArray m_written;
    bool m_failing = false;
};

} // namespace nx7
