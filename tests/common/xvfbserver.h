#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace nx7::test {

// A private X server (Xvfb) with no window manager, as a kiosk box runs, started on a
// free display number and stopped when the object goes. Tests that must see what a
// person sees run the real program or the real desktop on it, send input as X events
// (xdotool) and grab the screen from the server (xwd), not from Qt.
class XvfbServer
{
public:
    explicit XvfbServer(const QString &geometry = QStringLiteral("1280x1024x24"));
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    // ":N", for DISPLAY.
    QString display() const { return m_display; }

    // The whole screen as the X server holds it (its framebuffer), decoded to an image;
    // null on failure.
    QImage grab() const;
    // The screen as a PNG file, for a person to look at.
    bool saveScreenshot(const QString &path) const;
    // Runs an X client (xdotool, xwininfo, ...) on this display; its standard output, or
    // an empty text when it fails or takes longer than the timeout.
    QByteArray run(const QString &program, const QStringList &arguments,
                   int timeoutMs = 10000) const;
    // The environment for a child process on this display.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_framebufferDir;
    QProcess m_server;
    QString m_display;
    bool m_ok = false;
    QString m_error;
};

} // namespace nx7::test
