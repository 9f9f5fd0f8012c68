#include "rtp.h"

#include "audiocodec.h"
#include "codec.h"
#include "rtpheader.h"
#include "udpsocket.h"

#include <QDebug>

#include <cmath>
#include <cstring>

unsigned char loByte(short s)
{
    return static_cast<unsigned char>(s & 0xFF);
}

unsigned char hiByte(short s)
{
    return static_cast<unsigned char>((s >> 8) & 0xFF);
}

short lohiShort(unsigned char lo, unsigned char hi)
{
    return static_cast<short>(static_cast<unsigned short>((hi << 8) + lo));
}

Rtp::Rtp(QObject *parent)
    : QObject(parent)
{
    udpSocket = new UDPSocket(this);
    connect(this, &Rtp::msgTransmiterSignal, this, &Rtp::msgTransmiterSlot, Qt::DirectConnection);
    clock.start();
}

Rtp::~Rtp() = default;

void Rtp::setCodec(const SdpFormat &format)
{
    wanted = format;
}

int Rtp::sampleRate() const
{
    return codec ? codec->sampleRate() : JitterBuffer::rate;
}

QString Rtp::codecName() const
{
    if (codec)
        return codec->format().encoding;
    return rxCodec == PCMU ? QStringLiteral("PCMU") : QStringLiteral("PCMA");
}

void Rtp::setRemoteAddress(const QString &ip, const QString &port)
{
    remoteIp = ip;
    remotePort = port;
}

void Rtp::setMedia(const MediaDescription &description)
{
    media = description;
    setCodec(description.codec);
}

int Rtp::payloadType(int codec)
{
    switch (codec) {
    case PCMU:
        return 0;
    case G729:
        return 18;
    case GSM:
        return 3;
    default:
        return 8;
    }
}

void Rtp::initSession()
{
    txPcm.clear();
    const SdpFormat named = AudioCodec::named(wanted);
    const bool wideband = named.encoding.compare(QLatin1String("G722"), Qt::CaseInsensitive) == 0
        || named.encoding.compare(QLatin1String("opus"), Qt::CaseInsensitive) == 0;
    codec = wideband ? AudioCodec::create(wanted) : nullptr;
    if (!codec && named.encoding.compare(QLatin1String("PCMU"), Qt::CaseInsensitive) == 0)
        rxCodec = PCMU;
    else if (!codec && named.encoding.compare(QLatin1String("PCMA"), Qt::CaseInsensitive) == 0)
        rxCodec = PCMA;
    // The jitter buffer plays at the codec's rate and reads timestamps at its clock.
    rxBuffer.setFormat(sampleRate(), codec ? codec->clockRate() : JitterBuffer::rate, codec.get());
    dtmf.clear();
    figuresDue = true;
    bindSocket(localPort);
    if (udpSocket)
        udpSocket->flushReadBuff();
}

void Rtp::bindSocket(int port)
{
    if (udpSocket)
        udpSocket->bindSocket(port);
}

void Rtp::msgTransmiterSlot()
{
    msgTransmiter();
}

void Rtp::sendPacket(const unsigned char *payload, int bytes, int pt, int ticks)
{
    unsigned char packet[maxDatagram];
    if (bytes < 0 || headerSize + bytes > maxDatagram)
        return;
    ++seqNumber;
    timestamp += static_cast<quint32>(ticks);
    packet[0] = 0x80;
    packet[1] = static_cast<unsigned char>(pt & 0x7F);
    packet[2] = static_cast<unsigned char>(seqNumber >> 8);
    packet[3] = static_cast<unsigned char>(seqNumber);
    packet[4] = static_cast<unsigned char>(timestamp >> 24);
    packet[5] = static_cast<unsigned char>(timestamp >> 16);
    packet[6] = static_cast<unsigned char>(timestamp >> 8);
    packet[7] = static_cast<unsigned char>(timestamp);
    packet[8] = static_cast<unsigned char>(ssrc >> 24);
    packet[9] = static_cast<unsigned char>(ssrc >> 16);
    packet[10] = static_cast<unsigned char>(ssrc >> 8);
    packet[11] = static_cast<unsigned char>(ssrc);
    std::memcpy(packet + headerSize, payload, size_t(bytes));
    if (udpSocket)
        udpSocket->msgTransmiter(packet, headerSize + bytes);
}

void Rtp::msgTransmiter()
{
    if (codec) {
        const int bytes = codec->frameSamples() * 2;
        int used = 0;
        QVector<qint16> frame(codec->frameSamples());
        while (txPcm.size() - used >= bytes) {
            const auto *pcm = reinterpret_cast<const unsigned char *>(txPcm.constData()) + used;
            for (int i = 0; i < frame.size(); ++i)
                frame[i] = lohiShort(pcm[2 * i], pcm[2 * i + 1]);
            const QByteArray payload = codec->encode(frame.constData());
            used += bytes;
            sendPacket(reinterpret_cast<const unsigned char *>(payload.constData()), payload.size(),
                       codec->format().payloadType, codec->frameTicks());
        }
        txPcm.remove(0, used);
        return;
    }
    const int available = txPcm.size();
    if (available < frameBytes)
        return;
    const unsigned char *pcm = reinterpret_cast<const unsigned char *>(txPcm.constData());
    int used = 0;
    unsigned char packet[headerSize + frameSamples];
    while (available - used >= frameBytes) {
        const int law = rxCodec;
        int samples = 0;
        unsigned char mixed[frameBytes];
        const unsigned char *frame = pcm + used;
        if (!dtmf.idle()) {
            std::memcpy(mixed, frame, frameBytes);
            dtmf.mix(mixed, frameSamples);
            frame = mixed;
        }
        if (law == PCMA) {
            alawEncodeFrame(frame, packet + headerSize, frameSamples);
            samples = frameSamples;
        } else if (law == PCMU) {
            ulawEncodeFrame(frame, packet + headerSize, frameSamples);
            samples = frameSamples;
        }
        used += frameBytes;
        sendPacket(packet + headerSize, samples, payloadType(law), samples);
    }
    // A remainder shorter than a frame waits for the next capture block.
    txPcm.remove(0, used);
}

void Rtp::msgReceiver(unsigned char *data, int len)
{
    RtpHeader header;
    if (!data || len < minDatagram || len > maxDatagram || !header.parse(data, len) || header.payloadLength == 0)
        return;
    if (codec) {
        // A wideband call plays its own payload type only.
        if (header.payloadType != codec->format().payloadType)
            return;
        const QByteArray payload(reinterpret_cast<const char *>(data + header.payloadOffset), header.payloadLength);
        const quint64 before = rxBuffer.droppedSamples();
        rxBuffer.pushPayload(header.sequence, header.timestamp, header.ssrc, payload, clock.nsecsElapsed() / 1e6);
        rxDroppedBytes += 2 * (rxBuffer.droppedSamples() - before);
        return;
    }
    // Only the two laws we offer are sound; anything else (comfort noise,
    // events, another codec) is dropped and leaves the sending law alone.
    if (header.payloadType == 8)
        rxCodec = PCMA;
    else if (header.payloadType == 0)
        rxCodec = PCMU;
    else
        return;

    const int samples = header.payloadLength;
    unsigned char pcm[2 * maxDatagram];
    if (rxCodec == PCMA)
        alawDecodeFrame(data + header.payloadOffset, pcm, samples);
    else
        ulawDecodeFrame(data + header.payloadOffset, pcm, samples);
    qint16 decoded[maxDatagram];
    for (int i = 0; i < samples; ++i)
        decoded[i] = lohiShort(pcm[2 * i], pcm[2 * i + 1]);
    const quint64 before = rxBuffer.droppedSamples();
    rxBuffer.push(header.sequence, header.timestamp, header.ssrc, decoded, samples, clock.nsecsElapsed() / 1e6);
    rxDroppedBytes += 2 * (rxBuffer.droppedSamples() - before);
}

void Rtp::logCallFigures(double erleDb)
{
    if (!figuresDue)
        return;
    figuresDue = false;
    const JitterBuffer::Figures f = rxBuffer.figures();
    qDebug().noquote() << QStringLiteral("!!! RTP call figures: received %1, lost %2, late %3, duplicated %4, "
                                         "jitter mean %5 ms, max %6 ms, target delay %7 ms, codec %8, ERLE %9")
                              .arg(f.received).arg(f.lost).arg(f.late).arg(f.duplicated)
                              .arg(f.meanJitterMs, 0, 'f', 1).arg(f.maxJitterMs, 0, 'f', 1).arg(f.targetMs)
                              .arg(codecName(), std::isnan(erleDb) ? QStringLiteral("off")
                                                                   : QString::number(erleDb, 'f', 1) + QStringLiteral(" dB"));
    emit callFigures(f);
}
