#ifndef UDPSIPSOCKET_H
#define UDPSIPSOCKET_H

// The SIP transport over UDP: one datagram per message, always to the SIP
// server, and only the server's datagrams are taken.

#include "siptransport.h"

#include <QHostAddress>
#include <QString>

class QUdpSocket;

class UDPSipSocket : public SipTransport
{
    Q_OBJECT

public:
    explicit UDPSipSocket(QObject *parent = nullptr);

    Kind kind() const override { return Kind::Udp; }
    void setServer(const QString &host, const QHostAddress &address, quint16 port) override;
    void bindLocal(quint16 port) override;
    quint16 localPort() const override;
    void sendMessage(const QByteArray &message) override;
    // CRLF CRLF in one datagram, as the phone has always sent it.
    void sendKeepAlive() override;
    void close() override;

    QUdpSocket *udpSocket = nullptr;
    QString host;
    int port = 0;

public slots:
    void receiver();

private:
    QHostAddress serverAddress;
};

#endif // UDPSIPSOCKET_H
