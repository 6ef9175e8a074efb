#include "kioskmetrics.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTimer>

namespace nx7 {

Q_DECLARE_LOGGING_CATEGORY(lcService)

KioskMetrics::KioskMetrics(QString path, std::function<QByteArray()> text, QObject *parent)
    : QObject(parent), m_path(std::move(path)), m_text(std::move(text))
{
    if (m_path.isEmpty()) {
        qCInfo(lcService) << "no metrics file for the site's monitoring";
        return;
    }
    qCInfo(lcService).noquote() << "metrics for the site's monitoring in"
                                << QDir::toNativeSeparators(m_path);
    // The file's age is the kiosk's pulse: it is renewed even when nothing changes.
    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, [this] { write(); });
    m_refresh->start();
    write();
}

void KioskMetrics::changed()
{
    if (!m_path.isEmpty() && m_text() != m_written)
        write();
}

bool KioskMetrics::write()
{
    if (m_path.isEmpty())
        return false;
    const QByteArray now = m_text();
    // A reader sees the old file or the new one, never a part: QSaveFile writes a
    // temporary file beside it and renames it over the old one.
    QSaveFile file(m_path);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(now) == now.size() && file.commit();
    if (!written) {
        if (!m_failing)
            qCWarning(lcService).noquote()
                << "metrics not written to" << QDir::toNativeSeparators(m_path) << ":"
                << file.errorString() << "(tried again at every change and every"
                << kRefreshMs / 1000 << "s)";
        m_failing = true;
        return false;
    }
    if (m_failing)
        qCInfo(lcService).noquote()
            << "metrics written again to" << QDir::toNativeSeparators(m_path);
    m_failing = false;
    m_written = now;
    return true;
}

} // namespace nx7
