#ifndef RTPPEER_H
#define RTPPEER_H

// A far end for the media path on 127.0.0.1 (or another loopback address): keeps every datagram it gets
// and sends G.711 RTP packets it builds.

#include <QByteArray>
#include <QList>
#include <QObject>

class QUdpSocket;

class RtpPeer : public QObject
{
    Q_OBJECT

public:
    explicit RtpPeer(QObject *parent = nullptr);

    bool start(const char *address = "127.0.0.1", quint16 port = 0);
    quint16 port() const;
    void send(const QByteArray &datagram, quint16 toPort);
    // One RTP packet with a G.711 payload of `pcm` in the law of `payloadType` (8 or 0).
    static QByteArray packet(int payloadType, const QByteArray &pcm, quint16 seq = 1, quint32 ts = 160);
    // The G.711 payloads of the packets of `payloadType`, decoded.
    static QByteArray decode(const QList<QByteArray> &packets, int payloadType);

    QList<QByteArray> packets;

signals:
    void received();

private:
    QUdpSocket *socket;
};

#endif // RTPPEER_H
