#pragma once

// A real STUN server: coturn's turnserver in STUN-only mode on 127.0.0.1 and
// a free port, up once its socket is bound.

#include "peerprocess.h"

class StunServer : public PeerProcess
{
public:
    StunServer() : PeerProcess(QStringLiteral("turnserver")) {}

    bool start()
    {
        m_port = freePort();
        return launch({"-n", "--stun-only", "--listening-ip", "127.0.0.1", "--listening-port", QString::number(m_port),
                       "--no-tcp", "--no-tls", "--no-dtls", "--no-cli", "--no-software-attribute", "--pidfile",
                       path("turnserver.pid"), "--log-file", path("turnserver.log"), "--simple-log"})
            && waitReady([this] { return udpBound(QHostAddress::LocalHost, m_port); }, 10000, QStringLiteral("UDP socket"));
    }
    QString url() const { return QStringLiteral("udp://127.0.0.1:%1").arg(m_port); }
    quint16 port() const { return m_port; }

private:
    quint16 m_port = 0;
};
