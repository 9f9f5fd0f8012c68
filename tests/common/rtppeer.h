#ifndef RTPPEER_H
#define RTPPEER_H

// A far end for the media path on 127.0.0.1 (or another loopback address): keeps every datagram it gets
// and builds G.711 RTP packets for the tests to send.

#include "codec.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QObject>
#include <QUdpSocket>

class RtpPeer : public QObject
{
    Q_OBJECT

public:
    explicit RtpPeer(QObject *parent = nullptr) : QObject(parent), socket(new QUdpSocket(this))
    {
        connect(socket, &QUdpSocket::readyRead, this, [this] {
            while (socket->hasPendingDatagrams())
                packets.append(socket->receiveDatagram().data());
        });
    }

    bool start(const char *address = "127.0.0.1", quint16 port = 0) { return socket->bind(QHostAddress(QString::fromLatin1(address)), port); }
    quint16 port() const { return socket->localPort(); }
    // One RTP packet with a G.711 payload of `pcm` in the law of `payloadType` (8 or 0).
    static QByteArray packet(int payloadType, const QByteArray &pcm, quint16 seq = 1, quint32 ts = 160)
    {
        QByteArray p = QByteArray::fromHex("800000000000000012345678") + QByteArray(pcm.size() / 2, '\0');
        const quint64 fields = quint64(payloadType & 0x7F) << 48 | quint64(seq) << 32 | ts;
        for (int i = 1; i < 8; ++i)
            p[i] = char(fields >> (56 - 8 * i));
        const auto *in = reinterpret_cast<const unsigned char *>(pcm.constData());
        auto *out = reinterpret_cast<unsigned char *>(p.data()) + 12;
        payloadType == 0 ? ulawEncodeFrame(in, out, pcm.size() / 2) : alawEncodeFrame(in, out, pcm.size() / 2);
        return p;
    }
    // The G.711 payloads of the packets of `payloadType`, decoded.
    static QByteArray decode(const QList<QByteArray> &packets, int payloadType)
    {
        QByteArray pcm;
        for (const QByteArray &p : packets) {
            const int n = p.size() > 12 && (p[1] & 0x7F) == payloadType ? p.size() - 12 : 0;
            pcm += QByteArray(2 * n, '\0');
            const auto *in = reinterpret_cast<const unsigned char *>(p.constData()) + 12;
            auto *out = reinterpret_cast<unsigned char *>(pcm.data()) + pcm.size() - 2 * n;
            payloadType == 0 ? ulawDecodeFrame(in, out, n) : alawDecodeFrame(in, out, n);
        }
        return pcm;
    }

    QList<QByteArray> packets;

private:
    QUdpSocket *socket;
};

#endif // RTPPEER_H
