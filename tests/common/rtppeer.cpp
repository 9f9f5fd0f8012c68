#include "rtppeer.h"

#include "codec.h"

#include <QHostAddress>
#include <QUdpSocket>

RtpPeer::RtpPeer(QObject *parent)
    : QObject(parent), socket(new QUdpSocket(this))
{
    connect(socket, &QUdpSocket::readyRead, this, &RtpPeer::readPending);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &RtpPeer::sendNext);
    clock.start();
}

bool RtpPeer::start()
{
    return socket->bind(QHostAddress(QHostAddress::LocalHost), 0);
}

quint16 RtpPeer::port() const
{
    return socket->localPort();
}

void RtpPeer::send(const QByteArray &datagram, quint16 toPort)
{
    socket->writeDatagram(datagram, QHostAddress::LocalHost, toPort);
}

QByteArray RtpPeer::packet(int payloadType, const QByteArray &pcm, quint16 seq, quint32 ts)
{
    const int samples = pcm.size() / 2;
    QByteArray p(12 + samples, '\0');
    p[0] = char(0x80);
    p[1] = char(payloadType & 0x7F);
    p[2] = char(seq >> 8);
    p[3] = char(seq);
    p[4] = char(ts >> 24);
    p[5] = char(ts >> 16);
    p[6] = char(ts >> 8);
    p[7] = char(ts);
    p[8] = 0x12;
    p[9] = 0x34;
    p[10] = 0x56;
    p[11] = 0x78;
    const auto *in = reinterpret_cast<const unsigned char *>(pcm.constData());
    for (int i = 0; i < samples; ++i) {
        const int s = static_cast<qint16>(static_cast<quint16>(in[2 * i] | (in[2 * i + 1] << 8)));
        const unsigned char a = linear2alaw(s);
        p[12 + i] = char(payloadType == 0 ? alaw_to_ulaw(a) : a);
    }
    return p;
}

void RtpPeer::stream(const QByteArray &pcm, int payloadType, quint16 toPort)
{
    pending = pcm;
    streamPt = payloadType;
    streamPort = toPort;
    sent = 0;
    streamStartNs = clock.nsecsElapsed();
    timer.start(5);
    sendNext();
}

void RtpPeer::stopStream()
{
    timer.stop();
    pending.clear();
}

void RtpPeer::sendNext()
{
    // Pace by the clock, not by timer ticks: send every packet that is due.
    const qint64 due = (clock.nsecsElapsed() - streamStartNs) / 20000000 + 1;
    while (sent < due && (sent + 1) * 320 <= pending.size()) {
        ++seq;
        ts += 160;
        send(packet(streamPt, pending.mid(sent * 320, 320), seq, ts), streamPort);
        ++sent;
    }
    if ((sent + 1) * 320 > pending.size()) {
        timer.stop();
        emit streamDone();
    }
}

void RtpPeer::readPending()
{
    while (socket->hasPendingDatagrams()) {
        const qint64 size = socket->pendingDatagramSize();
        QByteArray d(static_cast<int>(qMax<qint64>(size, 0)), '\0');
        if (socket->readDatagram(d.data(), d.size()) < 0)
            break;
        packets.append(d);
        arrivalNs.append(clock.nsecsElapsed());
    }
    emit received();
}

QByteArray RtpPeer::decode(const QList<QByteArray> &packets, int payloadType)
{
    QByteArray pcm;
    for (const QByteArray &p : packets) {
        if (p.size() <= 12 || (p[1] & 0x7F) != payloadType)
            continue;
        for (int i = 12; i < p.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(p[i]);
            const qint16 s = static_cast<qint16>(alaw2linear(payloadType == 0 ? ulaw_to_alaw(c) : c));
            pcm.append(char(s & 0xFF));
            pcm.append(char((s >> 8) & 0xFF));
        }
    }
    return pcm;
}
