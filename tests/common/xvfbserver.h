#ifndef XVFBSERVER_H
#define XVFBSERVER_H

// A virtual X server for tests that need a real window system (input sent to
// a window, a modal box closed by a key): Xvfb on a display number it picks
// itself, stopped by PID. xdotool() drives windows on it.

#include <QProcess>
#include <QString>
#include <QStringList>

class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Starts Xvfb and waits until it reports its display; on failure returns
    // false and says why in errorString().
    bool start();
    void stop();

    QString display() const { return m_display; }
    QString errorString() const { return m_error; }

    // Runs xdotool on this display; true when it succeeded within timeoutMs,
    // with its standard output in *output.
    bool xdotool(const QStringList &arguments, QString *output = nullptr, int timeoutMs = 10000) const
    {
        return xdotoolOn(m_display, arguments, output, timeoutMs);
    }
    static bool xdotoolOn(const QString &display, const QStringList &arguments, QString *output = nullptr,
                          int timeoutMs = 10000);

private:
    QProcess m_process;
    QString m_display;
    QString m_error;
};

#endif // XVFBSERVER_H
