#include "rtppeer.h"

#include "codec.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

RtpPeer::RtpPeer(QObject *parent)
    : QObject(parent), socket(new QUdpSocket(this))
{
    connect(socket, &QUdpSocket::readyRead, this, [this] {
        while (socket->hasPendingDatagrams())
            packets.append(socket->receiveDatagram().data());
        emit received();
    });
}

bool RtpPeer::start(const char *address, quint16 port) { return socket->bind(QHostAddress(QString::fromLatin1(address)), port); }
quint16 RtpPeer::port() const { return socket->localPort(); }
void RtpPeer::send(const QByteArray &datagram, quint16 toPort) { socket->writeDatagram(datagram, QHostAddress::LocalHost, toPort); }

QByteArray RtpPeer::packet(int payloadType, const QByteArray &pcm, quint16 seq, quint32 ts)
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

QByteArray RtpPeer::decode(const QList<QByteArray> &packets, int payloadType)
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
