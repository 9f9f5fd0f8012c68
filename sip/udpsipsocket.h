#ifndef UDPSIPSOCKET_H
#define UDPSIPSOCKET_H

// The SIP UDP socket: one datagram per message, always to the SIP server.

#include <QObject>
#include <QString>

class QUdpSocket;
class Sip;

class UDPSipSocket : public QObject
{
    Q_OBJECT

public:
    UDPSipSocket(int port, Sip *sip);

    Sip *sip = nullptr;
    QUdpSocket *udpSocket = nullptr;
    QString host;
    int port = 0;

    void bind(int localPort);
    void msgReceiver(char *data, int size);
    void msgTransmiter(char *data, int size);

public slots:
    void receiver();
};

#endif // UDPSIPSOCKET_H
