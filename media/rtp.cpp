#include "rtp.h"

#include "audiocodec.h"
#include "codec.h"
#include "rtpheader.h"
#include "udpsocket.h"

#include <QDebug>

#include <algorithm>
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

namespace {

// Whether `a` and `b` are coded alike on the wire: a payload type or an fmtp that changes needs a new coder too.
bool codedAlike(const SdpFormat &a, const SdpFormat &b)
{
    return AudioCodec::named(a).sameCodec(AudioCodec::named(b)) && a.payloadType == b.payloadType && a.fmtp == b.fmtp;
}

// The figures of two stretches of one call, as one.
JitterBuffer::Figures joined(const JitterBuffer::Figures &a, const JitterBuffer::Figures &b)
{
    JitterBuffer::Figures f = b;
    f.received += a.received;
    f.lost += a.lost;
    f.late += a.late;
    f.duplicated += a.duplicated;
    if (f.received > 0)
        f.meanJitterMs = (a.meanJitterMs * double(a.received) + b.meanJitterMs * double(b.received)) / double(f.received);
    f.maxJitterMs = std::max(a.maxJitterMs, b.maxJitterMs);
    return f;
}

} // namespace

void Rtp::setCodec(const SdpFormat &format)
{
    wanted = format;
    // Both directions take the answer's codec at once: sending the old one
    // after answering another would be heard as noise or not at all.
    if (!inSession || format.payloadType < 0 || codedAlike(format, applied))
        return;
    earlier = joined(earlier, rxBuffer.figures());
    txPcm.clear();
    applyCodec();
    qDebug().noquote() << "!!! Codec changed within the call:" << codecName() << "at" << sampleRate() << "Hz";
    emit codecChanged();
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

void Rtp::setTelephoneEvent(int payloadType)
{
    eventPayloadType = payloadType >= 0 && payloadType <= 127 ? payloadType : -1;
}

void Rtp::setSending(bool on)
{
    if (sending != on)
        qDebug().noquote() << (on ? "!!! RTP sending resumed" : "!!! RTP sending stopped: held by the far end");
    sending = on;
    // Keys pressed while held are not kept for later.
    if (!on) {
        events.clear();
        dtmf.clear();
    }
}

bool Rtp::sendKey(QChar key)
{
    if (!sending)
        return false;
    if (eventPayloadType >= 0)
        return events.press(key);
    // In-band tones are mixed into G.711 only.
    if (codec)
        return false;
    return dtmf.queue(key);
}

bool Rtp::setSrtp(const SdesCrypto &ours, const SdesCrypto &theirs)
{
    if (ours.suite != theirs.suite || !srtp.start(ours.suite, ours.keySalt, theirs.keySalt)) {
        qWarning().noquote() << "SRTP: the keys were refused";
        clearSrtp();
        return false;
    }
    qDebug().noquote() << "SRTP on:" << SdesCrypto::suiteName(ours.suite);
    emit encryptionChanged(true);
    return true;
}

void Rtp::clearSrtp()
{
    if (!srtp.isActive())
        return;
    qDebug().noquote() << "SRTP off";
    srtp.stop();
    emit encryptionChanged(false);
}

void Rtp::setMedia(const MediaDescription &description)
{
    // Keys that did not change keep their contexts: restarting them would
    // lose the rollover counter and the replay window.
    const bool keysChanged = description.srtp != srtp.isActive() || description.sendKey.keySalt != media.sendKey.keySalt
        || description.receiveKey.keySalt != media.receiveKey.keySalt;
    media = description;
    setCodec(description.codec);
    setTelephoneEvent(description.eventPayloadType);
    setSending(description.send);
    if (!keysChanged)
        return;
    if (media.srtp)
        setSrtp(media.sendKey, media.receiveKey);
    else
        clearSrtp();
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
    applyCodec();
    earlier = JitterBuffer::Figures();
    dtmf.clear();
    eventReceiver.reset();
    figuresDue = true;
    inSession = true;
    bindSocket(localPort);
    if (udpSocket)
        udpSocket->flushReadBuff();
}

void Rtp::applyCodec()
{
    applied = wanted;
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
    // Events count durations in the voice's clock (RFC 4733 2.5.1.5).
    events = TelephoneEventSender(codec ? codec->clockRate() : JitterBuffer::rate);
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

void Rtp::msgTransmiter()
{
    // 20 ms of the path's rate per packet; the timestamp steps by the codec's clock.
    const int frameBytesNow = this->frameBytesNow();
    const int ticks = codec ? codec->frameTicks() : frameSamples;
    const unsigned char *pcm = reinterpret_cast<const unsigned char *>(txPcm.constData());
    const int available = txPcm.size();
    int used = 0;
    unsigned char packet[maxDatagram + SrtpSession::maxTrailer];
    QVector<qint16> wide(codec ? codec->frameSamples() : 0);
    while (available - used >= frameBytesNow) {
        const int law = rxCodec;
        int samples = 0;
        const unsigned char *frame = pcm + used;
        used += frameBytesNow;
        // The clock runs on in every 20 ms slot, sent or not (RFC 3550 5.1);
        // the sequence number counts the packets sent.
        const quint32 now = timestamp + ticks;
        timestamp = now;
        if (!sending)
            continue;
        TelephoneEventPacket event;
        const bool isEvent = eventPayloadType >= 0 && events.tick(now, event);
        int type = codec ? codec->format().payloadType : payloadType(law);
        if (isEvent) {
            // The event takes this slot's place: the voice's sequence number and SSRC, its own timestamp.
            std::memcpy(packet + headerSize, event.payload.constData(), TelephoneEventPayload::size);
            samples = TelephoneEventPayload::size;
            type = eventPayloadType;
        } else if (codec) {
            for (int i = 0; i < wide.size(); ++i)
                wide[i] = lohiShort(frame[2 * i], frame[2 * i + 1]);
            const QByteArray payload = codec->encode(wide.constData());
            if (payload.size() > maxDatagram - headerSize)
                continue;
            std::memcpy(packet + headerSize, payload.constData(), size_t(payload.size()));
            samples = payload.size();
        } else {
            unsigned char mixed[frameBytes];
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
        }
        const quint32 stamp = isEvent ? event.timestamp : now;

        ++seqNumber;
        packet[0] = 0x80;
        packet[1] = static_cast<unsigned char>((isEvent && event.marker ? 0x80 : 0) | (type & 0x7F));
        packet[2] = static_cast<unsigned char>(seqNumber >> 8);
        packet[3] = static_cast<unsigned char>(seqNumber);
        packet[4] = static_cast<unsigned char>(stamp >> 24);
        packet[5] = static_cast<unsigned char>(stamp >> 16);
        packet[6] = static_cast<unsigned char>(stamp >> 8);
        packet[7] = static_cast<unsigned char>(stamp);
        packet[8] = static_cast<unsigned char>(ssrc >> 24);
        packet[9] = static_cast<unsigned char>(ssrc >> 16);
        packet[10] = static_cast<unsigned char>(ssrc >> 8);
        packet[11] = static_cast<unsigned char>(ssrc);
        transmit(packet, headerSize + samples);
    }
    // A remainder shorter than a frame waits for the next capture block.
    txPcm.remove(0, used);
}

void Rtp::transmit(unsigned char *packet, int len)
{
    if (!udpSocket)
        return;
    if (!srtp.isActive()) {
        udpSocket->msgTransmiter(packet, len);
        return;
    }
    // Nothing leaves in clear once the call is encrypted.
    QByteArray secured(reinterpret_cast<const char *>(packet), len);
    if (srtp.protect(secured))
        udpSocket->msgTransmiter(reinterpret_cast<unsigned char *>(secured.data()), secured.size());
}

void Rtp::msgReceiver(unsigned char *data, int len)
{
    if (!data || len < minDatagram || len > maxDatagram)
        return;
    QByteArray clear;
    if (srtp.isActive()) {
        // Authenticated and decrypted, or dropped: clear RTP, a bad tag or a
        // replay never reaches the speaker.
        clear = QByteArray(reinterpret_cast<const char *>(data), len);
        if (!srtp.unprotect(clear)) {
            ++rxRejected;
            return;
        }
        data = reinterpret_cast<unsigned char *>(clear.data());
        len = clear.size();
    }
    RtpHeader header;
    if (len < minDatagram || !header.parse(data, len) || header.payloadLength == 0)
        return;
    // Key events are reported once each and never heard as sound.
    if (eventPayloadType >= 0 && header.payloadType == eventPayloadType) {
        const QChar key = eventReceiver.take(header.timestamp, data + header.payloadOffset, header.payloadLength);
        if (!key.isNull()) {
            qDebug().noquote() << QStringLiteral("!!! DTMF received: %1 (RFC 4733)").arg(key);
            emit keyReceived(key);
        }
        return;
    }
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
    // another codec) is dropped and leaves the sending law alone.
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
    const JitterBuffer::Figures f = joined(earlier, rxBuffer.figures());
    qDebug().noquote() << QStringLiteral("!!! RTP call figures: received %1, lost %2, late %3, duplicated %4, "
                                         "jitter mean %5 ms, max %6 ms, target delay %7 ms, codec %8, ERLE %9")
                              .arg(f.received).arg(f.lost).arg(f.late).arg(f.duplicated)
                              .arg(f.meanJitterMs, 0, 'f', 1).arg(f.maxJitterMs, 0, 'f', 1).arg(f.targetMs)
                              .arg(codecName(), std::isnan(erleDb) ? QStringLiteral("off")
                                                                   : QString::number(erleDb, 'f', 1) + QStringLiteral(" dB"));
    emit callFigures(f);
}
