#ifndef RTPPEER_H
#define RTPPEER_H

// A far end for the media path on 127.0.0.1: records every datagram it gets
// (with its arrival time) and streams G.711 RTP of a PCM buffer at 20 ms pace.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class QUdpSocket;

class RtpPeer : public QObject
{
    Q_OBJECT

public:
    explicit RtpPeer(QObject *parent = nullptr);

    bool start();
    quint16 port() const;

    void send(const QByteArray &datagram, quint16 toPort);
    // One RTP packet with a G.711 payload of `pcm` in the law of `payloadType` (8 or 0).
    static QByteArray packet(int payloadType, const QByteArray &pcm, quint16 seq = 1, quint32 ts = 160);
    // Sends `pcm` in 20 ms packets to `toPort`, one every 20 ms, then stops.
    void stream(const QByteArray &pcm, int payloadType, quint16 toPort);
    void stopStream();
    bool streaming() const { return timer.isActive(); }

    // The G.711 payloads of the packets of `payloadType`, decoded.
    static QByteArray decode(const QList<QByteArray> &packets, int payloadType);

    QList<QByteArray> packets;
    QList<qint64> arrivalNs;
    QElapsedTimer clock;

signals:
    void received();
    void streamDone();

private:
    void readPending();
    void sendNext();

    QUdpSocket *socket;
    QTimer timer;
    QByteArray pending;
    int streamPt = 8;
    quint16 streamPort = 0;
    quint16 seq = 0;
    quint32 ts = 0;
    qint64 streamStartNs = 0;
    int sent = 0;
};

#endif // RTPPEER_H
