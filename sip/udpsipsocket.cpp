#include "udpsipsocket.h"

#include "sipheader.h"

#include <QDebug>
#include <QUdpSocket>

UDPSipSocket::UDPSipSocket(QObject *parent)
    : SipTransport(parent)
{
    udpSocket = new QUdpSocket(this);
    connect(udpSocket, &QUdpSocket::readyRead, this, &UDPSipSocket::receiver);
}

void UDPSipSocket::setServer(const QString &, const QHostAddress &address, quint16 serverPort)
{
    serverAddress = address;
    host = address.toString();
    port = serverPort;
}

void UDPSipSocket::bindLocal(quint16 localPort)
{
    udpSocket->abort();
    // Address sharing lets a registrar or proxy listen on another local
    // address with the same port; Qt's default mode sets no SO_REUSEADDR.
    udpSocket->bind(QHostAddress::Any, localPort, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    qDebug().noquote().nospace() << "UDPSipSocket state: " << udpSocket->state()
                                 << " port: " << udpSocket->localPort();
}

quint16 UDPSipSocket::localPort() const
{
    return udpSocket->localPort();
}

void UDPSipSocket::close()
{
    udpSocket->abort();
}

void UDPSipSocket::receiver()
{
    // A bounded batch per notification keeps the event loop turning under a
    // flood; reading re-arms the notifier, which brings the rest.
    for (int batch = 0; batch < 64 && udpSocket->hasPendingDatagrams(); ++batch) {
        const qint64 pending = udpSocket->pendingDatagramSize();
        QByteArray data(int(qMax<qint64>(pending, 0)), Qt::Uninitialized);
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = udpSocket->readDatagram(data.data(), data.size(), &sender, &senderPort);
        if (size < 0)
            continue;
        // Only the SIP server may speak to the phone: anyone else who can
        // reach the port could otherwise ring it or end its calls.
        if (!sender.isEqual(serverAddress, QHostAddress::TolerantConversion)) {
            if (SipHeader::logEnabled())
                qDebug().noquote().nospace() << "!!!!!! Rx UDPSipSocket  dropped, not from the SIP server: "
                                             << sender.toString() << ':' << senderPort << " size " << size;
            continue;
        }
        qDebug().noquote().nospace() << "!!!!!! Rx UDPSipSocket  Size: " << size;
        qDebug().noquote().nospace() << "!!!!!! Rx UDPSipSocket  host: " << sender.toString();
        qDebug().noquote().nospace() << "!!!!!! Rx UDPSipSocket  port: " << senderPort;
        data.truncate(int(size));
        emit messageReceived(data);
    }
}

void UDPSipSocket::sendMessage(const QByteArray &message)
{
    qDebug().noquote().nospace() << "!!!!!! Tx UDPSipSocket  Size: " << message.size();
    qDebug().noquote().nospace() << "!!!!!! Tx UDPSipSocket  host: " << host;
    qDebug().noquote().nospace() << "!!!!!! Tx UDPSipSocket  port: " << port;
    udpSocket->writeDatagram(message, serverAddress, quint16(port));
}

void UDPSipSocket::sendKeepAlive()
{
    sendMessage(QByteArrayLiteral("\r\n\r\n"));
}
