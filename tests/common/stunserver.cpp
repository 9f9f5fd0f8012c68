#include "stunserver.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

bool StunServer::start()
{
    m_port = freePort();
    return launch({"-n", "--stun-only", "--listening-ip", "127.0.0.1", "--listening-port", QString::number(m_port),
                   "--no-tcp", "--no-tls", "--no-dtls", "--no-cli", "--no-software-attribute", "--pidfile",
                   path("turnserver.pid"), "--log-file", path("turnserver.log"), "--simple-log"})
        && waitReady([this] { return answers(); }, 10000, QStringLiteral("answer to a Binding Request"));
}

// One hand-made Binding Request; any answer with our transaction ID will do.
bool StunServer::answers()
{
    QByteArray request(20, '\0');
    qToBigEndian<quint16>(0x0001, request.data());
    qToBigEndian<quint32>(0x2112A442, request.data() + 4);
    request.replace(8, 12, "harnessprobe");
    QUdpSocket socket;
    if (socket.writeDatagram(request, QHostAddress::LocalHost, m_port) != request.size() || !socket.waitForReadyRead(200))
        return false;
    const QByteArray reply = socket.receiveDatagram().data();
    return reply.size() >= 20 && reply.mid(8, 12) == request.mid(8, 12);
}
