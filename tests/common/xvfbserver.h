#ifndef XVFBSERVER_H
#define XVFBSERVER_H

// A virtual X server for tests that need a real window system (input sent to
// a window, a modal box closed by a key): Xvfb on a display number it picks
// itself. xdotool() drives windows on it.

#include "peerprocess.h"

class XvfbServer : public PeerProcess
{
public:
    XvfbServer() : PeerProcess(QStringLiteral("Xvfb"), 5000) {}

    // Starts Xvfb and waits until it reports its display.
    bool start();
    QString display() const { return m_display; }

    // Runs xdotool on this display; true when it succeeded within timeoutMs,
    // with its standard output in *output.
    bool xdotool(const QStringList &arguments, QString *output = nullptr, int timeoutMs = 10000) const
    {
        return xdotoolOn(m_display, arguments, output, timeoutMs);
    }
    static bool xdotoolOn(const QString &display, const QStringList &arguments, QString *output = nullptr,
                          int timeoutMs = 10000);

private:
    QString m_display;
};

#endif // XVFBSERVER_H
