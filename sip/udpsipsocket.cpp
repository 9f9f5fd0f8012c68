#include "udpsipsocket.h"

#include "mainwindow.h"
#include "sip.h"
#include "sipheader.h"

#include <QDebug>
#include <QHostAddress>
#include <QMutexLocker>
#include <QUdpSocket>

UDPSipSocket::UDPSipSocket(int port, Sip *sip)
    : QObject(sip), sip(sip), port(port)
{
    if (sip && sip->mainWindow)
        host = sip->mainWindow->sipServerAddr;
    udpSocket = new QUdpSocket(this);
    connect(udpSocket, &QUdpSocket::readyRead, this, &UDPSipSocket::receiver);
    bind(port);
}

void UDPSipSocket::bind(int localPort)
{
    udpSocket->abort();
    // Address sharing lets a registrar or proxy listen on another local
    // address with the same port; Qt's default mode sets no SO_REUSEADDR.
    udpSocket->bind(QHostAddress::Any, quint16(localPort),
                    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    qDebug().noquote().nospace() << "UDPSipSocket state: " << udpSocket->state()
                                 << " port: " << udpSocket->localPort();
}

void UDPSipSocket::receiver()
{
    const QString server = sip && sip->mainWindow ? sip->mainWindow->sipServerAddr : QString();
    const QHostAddress serverAddress(server);
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
        msgReceiver(data.data(), int(size));
    }
}

void UDPSipSocket::msgReceiver(char *data, int size)
{
    if (!sip)
        return;
    {
        QMutexLocker lock(&sip->rxMutex);
        sip->rxQueue.append(QByteArray(data, size));
    }
    emit sip->msgReceiverSignal();
}

void UDPSipSocket::msgTransmiter(char *data, int size)
{
    if (sip && sip->mainWindow) {
        host = sip->mainWindow->sipServerAddr;
        port = sip->mainWindow->sipServerPort.toInt();
    }
    qDebug().noquote().nospace() << "!!!!!! Tx UDPSipSocket  Size: " << size;
    qDebug().noquote().nospace() << "!!!!!! Tx UDPSipSocket  host: " << host;
    qDebug().noquote().nospace() << "!!!!!! Tx UDPSipSocket  port: " << port;
    udpSocket->writeDatagram(data, size, QHostAddress(host), quint16(port));
}
