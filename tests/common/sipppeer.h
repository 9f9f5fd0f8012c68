#ifndef SIPPPEER_H
#define SIPPPEER_H

// A real SIPp instance: one scenario file, its own SIP, media and control
// ports, up once its SIP port is bound.

#include "peerprocess.h"

class SippPeer : public PeerProcess
{
public:
    SippPeer() : PeerProcess(QStringLiteral("sipp")) {}

    // Runs `sipp -sf scenario` on address:port towards `remote` (may be empty
    // for a pure server), with extra arguments; waits until the port is bound.
    bool start(const QString &scenario, const QString &address, quint16 port, const QString &remote,
               const QStringList &extra = {});
    // Waits for SIPp to end; true when it exited 0 (every call succeeded).
    bool finish(int ms = 20000);

    int exitCode() const { return m_exitCode; }
    // SIPp's error and message traces, for failure messages.
    QString report() const;
    static bool isBound(const QHostAddress &address, quint16 port) { return udpBound(address, port); }

private:
    int m_exitCode = -1;
};

#endif // SIPPPEER_H
