#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace nx7 {

// The metrics file for the site's monitoring, read by the node exporter's text-file
// collector: replaced whole (a temporary file in the same folder, then a rename) at each
// change and every few seconds, so that its age says whether the kiosk is alive.
class KioskMetrics : public QObject
{
    Q_OBJECT
public:
    // Well under the collector's usual scrape interval and the two minutes after which a
    // file that is not renewed means a kiosk that is gone.
    static constexpr int kRefreshMs = 15000;

    // An empty path writes nothing (a kiosk started by hand, the tests); `text` gives the
    // file's contents now.
    KioskMetrics(QString path, std::function<QByteArray()> text, QObject *parent = nullptr);

    const QString &path() const { return m_path; }

    // The state changed: written when its text did.
    void changed();
    // Writes the file now; false (logged once per run of failures) when it cannot.
    bool write();

private:
    QString m_path;
    std::function<QByteArray()> m_text;
    QTimer *m_refresh = nullptr;
    QByteArray m_written;
    bool m_failing = false;
};

} // namespace nx7
