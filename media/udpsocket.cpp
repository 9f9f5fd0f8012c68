#include "udpsocket.h"

#include "rtp.h"

#include <QDebug>
#include <QHostAddress>
#include <QUdpSocket>

UDPSocket::UDPSocket(Rtp *rtp)
    : QObject(rtp), rtp(rtp)
{
    udpSocket = new QUdpSocket(this);
    connect(udpSocket, &QUdpSocket::readyRead, this, &UDPSocket::receiver);
    qDebug().noquote() << "!!!UDPSocket state:" << udpSocket->state();
}

void UDPSocket::bindSocket(int port)
{
    this->port = port;
    udpSocket->abort();
    if (port >= 0 && port <= 65535)
        udpSocket->bind(QHostAddress::AnyIPv4, static_cast<quint16>(port), QAbstractSocket::ShareAddress);
    qDebug().noquote().nospace() << "Bind RTP Port: " << port;
    qDebug().noquote().nospace() << "Bind RTP localPort: " << udpSocket->localPort();
}

int UDPSocket::localPort() const
{
    return udpSocket->localPort();
}

void UDPSocket::receiver()
{
    // One byte more than the largest datagram we accept: a longer one arrives
    // truncated to exactly that and is dropped by the length check.
    unsigned char buffer[Rtp::maxDatagram + 1];
    // A bounded batch, so that under a flood timers and devices keep being
    // served; reading re-arms the socket's notifier, so the rest follows.
    for (int batch = 0; batch < 64 && udpSocket->state() == QAbstractSocket::BoundState
                        && udpSocket->hasPendingDatagrams(); ++batch) {
        const qint64 got = udpSocket->readDatagram(reinterpret_cast<char *>(buffer), sizeof buffer);
        if (got < 0)
            break;
        msgReceiver(buffer, static_cast<int>(got));
    }
}

void UDPSocket::msgReceiver(unsigned char *data, int len)
{
    if (rtp)
        rtp->msgReceiver(data, len);
}

void UDPSocket::msgTransmiter(unsigned char *data, int len)
{
    if (!rtp || !data || len <= 0)
        return;
    // The address follows the text for every packet; parsing it again only
    // when the text changed keeps the send path short.
    if (rtp->remoteIp != remoteIpText) {
        remoteIpText = rtp->remoteIp;
        remoteAddress = QHostAddress(remoteIpText);
    }
    bool ok = false;
    const int remotePort = rtp->remotePort.toInt(&ok);
    if (remoteAddress.isNull() || !ok || remotePort <= 0 || remotePort > 65535)
        return;
    udpSocket->writeDatagram(reinterpret_cast<const char *>(data), len, remoteAddress, static_cast<quint16>(remotePort));
}

void UDPSocket::flushReadBuff()
{
    while (udpSocket->state() == QAbstractSocket::BoundState && udpSocket->hasPendingDatagrams()) {
        if (udpSocket->readDatagram(nullptr, 0) < 0)
            break;
    }
}
