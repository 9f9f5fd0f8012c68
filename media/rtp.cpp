#include "rtp.h"

#include "audio.h"
#include "codec.h"
#include "mainwindow.h"
#include "udpsocket.h"

#include <QDebug>

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

Rtp::Rtp(Audio *audio)
    : QObject(audio), audio(audio)
{
    udpSocket = new UDPSocket(this);
    connect(this, &Rtp::msgTransmiterSignal, this, &Rtp::msgTransmiterSlot, Qt::DirectConnection);
}

MainWindow *Rtp::mainWindow() const
{
    if (audio && audio->mainWindow)
        return audio->mainWindow;
    return pW;
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
    rxPcm.clear();
    rxDropping = false;
    const MainWindow *mw = mainWindow();
    if (mw)
        bindSocket(mw->stunLocalPortM != 0 ? mw->stunLocalPortM : mw->mediaPort);
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

void Rtp::msgTransmiter()
{
    const int available = txPcm.size();
    if (available < frameBytes)
        return;
    const unsigned char *pcm = reinterpret_cast<const unsigned char *>(txPcm.constData());
    int used = 0;
    unsigned char packet[headerSize + frameSamples];
    while (available - used >= frameBytes) {
        const int codec = rxCodec;
        int samples = 0;
        if (codec == PCMA) {
            alawEncodeFrame(pcm + used, packet + headerSize, frameSamples);
            samples = frameSamples;
        } else if (codec == PCMU) {
            ulawEncodeFrame(pcm + used, packet + headerSize, frameSamples);
            samples = frameSamples;
        }
        used += frameBytes;

        ++seqNumber;
        timestamp += static_cast<quint32>(samples);
        packet[0] = 0x80;
        packet[1] = static_cast<unsigned char>(payloadType(codec) & 0x7F);
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
        if (udpSocket)
            udpSocket->msgTransmiter(packet, headerSize + samples);
    }
    // A remainder shorter than a frame waits for the next capture block.
    txPcm.remove(0, used);
}

void Rtp::msgReceiver(unsigned char *data, int len)
{
    if (!data || len < minDatagram || len > maxDatagram)
        return;
    switch (data[1] & 0x7F) {
    case 8:
        rxCodec = PCMA;
        break;
    case 0:
        rxCodec = PCMU;
        break;
    case 18:
        rxCodec = G729;
        return;
    case 3:
        rxCodec = GSM;
        return;
    default:
        // An unknown type (e.g. telephone-event) is heard in the current law.
        if (rxCodec != PCMA && rxCodec != PCMU)
            return;
    }

    // The payload always starts at offset 12: CSRCs and extensions are not
    // skipped, which is how the peers we talk to send G.711 anyway.
    const int samples = len - headerSize;
    const int old = rxPcm.size();
    rxPcm.resize(old + 2 * samples);
    unsigned char *out = reinterpret_cast<unsigned char *>(rxPcm.data()) + old;
    if (rxCodec == PCMA)
        alawDecodeFrame(data + headerSize, out, samples);
    else
        ulawDecodeFrame(data + headerSize, out, samples);

    // Keep at most 200 ms waiting for playback: a peer sending faster than the
    // device plays would otherwise grow memory and delay without limit.
    const int excess = rxPcm.size() - rxPcmLimit;
    if (excess > 0) {
        rxPcm.remove(0, excess);
        rxDroppedBytes += static_cast<quint64>(excess);
        if (!rxDropping)
            qWarning().noquote() << "!!!Rtp::msgReceiver rxPcm full, dropping oldest samples:" << excess << "bytes";
        rxDropping = true;
    } else {
        rxDropping = false;
    }
}
