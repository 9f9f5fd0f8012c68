#ifndef STUNSERVER_H
#define STUNSERVER_H

// A real STUN server: coturn's turnserver in STUN-only mode on 127.0.0.1 and
// a free port, up once it answers a Binding Request.

#include "peerprocess.h"

class StunServer : public PeerProcess
{
public:
    StunServer() : PeerProcess(QStringLiteral("turnserver")) {}

    bool start();
    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("udp://127.0.0.1:%1").arg(m_port); }

private:
    bool answers();

    quint16 m_port = 0;
};

#endif // STUNSERVER_H
