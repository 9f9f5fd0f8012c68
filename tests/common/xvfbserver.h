#pragma once

// A virtual X server for tests that need a real window system (input sent to
// a window, a modal box closed by a key): Xvfb on a display number it picks
// itself; PhoneProcess::xdotool() drives windows on it.

#include "peerprocess.h"

class XvfbServer : public PeerProcess
{
public:
    XvfbServer() : PeerProcess(QStringLiteral("Xvfb"), 5000) {}

    // -displayfd: Xvfb takes the first free display and writes its number to
    // the given descriptor once it accepts connections. -noreset: without it the
    // server resets when its last client leaves, and a phone restarted at that
    // moment cannot connect. -r: no key repeat; on a loaded machine xdotool's
    // press and release of one key can lie more than the repeat delay apart,
    // and the server would type the key again by itself.
    bool start()
    {
        QByteArray out;
        return launch({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset", "-r"}, true)
            && waitReady([&] {
                   m_display = ":" + QString::fromLatin1((out += m_process.readAllStandardOutput()).trimmed());
                   return out.contains('\n');
               }, 10000, QStringLiteral("display number"));
    }
    QString display() const { return m_display; }

private:
    QString m_display;
};
