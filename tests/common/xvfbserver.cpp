#include "xvfbserver.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>

#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace nx7::test {

namespace {

// Decodes the xwd dump of a 24/32-bit TrueColor screen (the only kind Xvfb makes here).
QImage decodeXwd(const QByteArray &dump)
{
    auto be32 = [&](int word) {
        const auto *p = reinterpret_cast<const uchar *>(dump.constData()) + 4 * word;
        return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
    };
    if (dump.size() < 100)
        return {};
    const quint32 headerSize = be32(0);
    const int width = int(be32(4));
    const int height = int(be32(5));
    const quint32 byteOrder = be32(7);
    const quint32 bitsPerPixel = be32(11);
    const quint32 bytesPerLine = be32(12);
    const quint32 colourCount = be32(19);
    const qint64 dataStart = qint64(headerSize) + qint64(colourCount) * 12;
    if (bitsPerPixel != 32 || dump.size() < dataStart + qint64(bytesPerLine) * height)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const uchar *>(dump.constData()) + dataStart +
                           qint64(y) * bytesPerLine;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const uchar *px = line + 4 * x;
            out[x] = byteOrder == 0 ? qRgb(px[2], px[1], px[0]) : qRgb(px[1], px[2], px[3]);
        }
    }
    return image;
}

} // namespace

XvfbServer::XvfbServer(const QString &geometry)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        m_error = QStringLiteral("Xvfb is not installed");
        return;
    }
    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The server ends with the test program, even one that aborts or is killed.
    // -displayfd: the server picks a free display number itself and writes it on its
    // standard output once it listens, so two test programs started together cannot share
    // one. -noreset: by default the server resets when its last client leaves, and a
    // client connecting during the reset (the program, right after the readiness probe)
    // is refused on a loaded machine. -fbdir: the screen's memory kept in a file, so
    // grab() reads what is really on the screen.
    m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_server.start(
        xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
               QStringLiteral("-screen"), QStringLiteral("0"), geometry, QStringLiteral("-fbdir"),
               m_framebufferDir.path(), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!m_server.waitForStarted(5000)) {
        m_error = QStringLiteral("Xvfb did not start: ") + m_server.errorString();
        return;
    }
    QByteArray announced;
    while (!announced.contains('\n') && m_server.waitForReadyRead(20000))
        announced += m_server.readAllStandardOutput();
    bool numbered = false;
    const int number = announced.trimmed().toInt(&numbered);
    if (!numbered) {
        m_error = QStringLiteral("Xvfb gave no display number");
        return;
    }
    m_display = QStringLiteral(":%1").arg(number);
    // Ready when a client can talk to it.
    for (int tries = 0; tries < 50; ++tries) {
        QProcess probe;
        probe.setProcessEnvironment(environment());
        probe.start(QStringLiteral("xdpyinfo"), {});
        if (probe.waitForFinished(2000) && probe.exitCode() == 0) {
            m_ok = true;
            return;
        }
        if (m_server.state() != QProcess::Running)
            break;
        QThread::msleep(100);
    }
    m_error = QStringLiteral("Xvfb on %1 did not answer").arg(m_display);
}

XvfbServer::~XvfbServer()
{
    if (m_server.state() == QProcess::Running) {
        m_server.terminate();
        if (!m_server.waitForFinished(3000))
            m_server.kill();
        m_server.waitForFinished(3000);
    }
}

QProcessEnvironment XvfbServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QByteArray XvfbServer::run(const QString &program, const QStringList &arguments,
                           int timeoutMs) const
{
    QProcess client;
    client.setProcessEnvironment(environment());
    client.start(program, arguments);
    if (!client.waitForFinished(timeoutMs) || client.exitStatus() != QProcess::NormalExit ||
        client.exitCode() != 0) {
        client.kill();
        client.waitForFinished(1000);
        return {};
    }
    return client.readAllStandardOutput();
}

// Not "xwd -root": every Qt window has a colormap of its own, which sends xwd down its
// multi-colormap path, and there a window lying wholly inside another window of the same
// program comes out black although the screen shows it painted.
QImage XvfbServer::grab() const
{
    QFile screen(m_framebufferDir.filePath(QStringLiteral("Xvfb_screen0")));
    if (!screen.open(QIODevice::ReadOnly))
        return {};
    return decodeXwd(screen.readAll());
}

bool XvfbServer::saveScreenshot(const QString &path) const
{
    const QImage screen = grab();
    return !screen.isNull() && screen.save(path);
}

} // namespace nx7::test
