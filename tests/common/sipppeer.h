#pragma once

// A real SIPp instance: one scenario file, its own SIP, media and control
// ports, up once its SIP port is bound.

#include "peerprocess.h"

#include <QSignalSpy>

class SippPeer : public PeerProcess
{
public:
    SippPeer() : PeerProcess(QStringLiteral("sipp")) {}

    // Runs `sipp -sf scenario` on address:port towards `remote` (may be empty
    // for a pure server), with extra arguments; waits until the port is bound.
    bool start(const QString &scenario, const QString &address, quint16 port, const QString &remote,
               const QStringList &extra = {})
    {
        // SIPp binds four media ports from -mp on (audio and video, RTP and
        // RTCP): all four must be free, and the SIP and control ports outside them.
        quint16 media = freePort(4), control = freePort();
        while (quint16(port - media) < 4 || quint16(control - media) < 4)
            media = freePort(4);
        QStringList arguments{"-sf", scenario, "-i", address, "-p", QString::number(port), "-mp", QString::number(media),
                              "-cp", QString::number(control), "-m", "1", "-nostdin", "-timeout", "30s",
                              "-timeout_error", "-trace_err", "-error_file", path("errors.log"), "-trace_msg",
                              "-message_file", path("messages.log")};
        // Ready once the kernel lists its socket; probing by binding the port
        // ourselves would race with SIPp's own bind.
        return launch(arguments + extra + (remote.isEmpty() ? QStringList() : QStringList{remote}))
            && waitReady([&] { return udpBound(QHostAddress(address), port); }, 10000, QStringLiteral("SIP socket"));
    }
    // Waits for SIPp to end; true when it exited 0 (every call succeeded).
    bool finish(int ms = 20000)
    {
        QSignalSpy finished(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        if (running() && !finished.wait(ms))
            stop();
        const bool passed = m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        return passed || fail(QStringLiteral("sipp ended with %1: %2").arg(m_process.exitCode()).arg(report()));
    }
    // SIPp's error and message traces, for failure messages.
    QString report() const
    {
        QString text;
        for (const char *name : {"errors.log", "messages.log", "output.log"})
            text += QStringLiteral("\n--- %1 ---\n%2").arg(name, QString::fromUtf8(read(path(name)).right(3000)));
        return text;
    }
};
