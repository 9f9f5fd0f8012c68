#ifndef UDPSOCKET_H
#define UDPSOCKET_H

// The media socket: bound on all IPv4 interfaces with the share flag, so the
// port the media STUN client learned its mapping on can carry the RTP too.

#include <QHostAddress>
#include <QObject>
#include <QString>

class QUdpSocket;
class Rtp;

class UDPSocket : public QObject
{
    Q_OBJECT

public:
    explicit UDPSocket(Rtp *rtp);

    void bindSocket(int port);
    void msgReceiver(unsigned char *data, int len);
    void msgTransmiter(unsigned char *data, int len);
    void flushReadBuff();
    int localPort() const;

    Rtp *rtp = nullptr;
    QUdpSocket *udpSocket = nullptr;
    int port = 0;

public slots:
    void receiver();

private:
    QString remoteIpText;
    QHostAddress remoteAddress;
};

#endif // UDPSOCKET_H
