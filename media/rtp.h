#ifndef RTP_H
#define RTP_H

// The RTP session of a call: 20 ms packets out of the captured samples, G.711
// (with in-band DTMF mixed in) unless the call settled on a wideband codec
// (G.722, Opus), whose rate the whole audio path then runs at; received
// packets go into the jitter buffer the speaker plays from. One object for
// the life of the process; counters run on from call to call.

#include "dtmfgenerator.h"
#include "mediadescription.h"
#include "jitterbuffer.h"
#include "sdpformat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>

class AudioCodec;
class UDPSocket;

unsigned char loByte(short s);
unsigned char hiByte(short s);
short lohiShort(unsigned char lo, unsigned char hi);

class Rtp : public QObject
{
    Q_OBJECT

public:
    enum Codec { PCMA = 0, PCMU = 1, G729 = 2, GSM = 3 };

    static constexpr int headerSize = 12;
    static constexpr int frameBytes = 320;       // 20 ms of 8000 Hz 16-bit mono
    static constexpr int frameSamples = 160;
    static constexpr int minDatagram = 13;
    static constexpr int maxDatagram = 1500;
    static constexpr int rxPcmLimit = 2 * JitterBuffer::maxTargetMs * JitterBuffer::rate / 1000; // bytes

    explicit Rtp(QObject *parent = nullptr);
    ~Rtp() override;

    // The call's codec as negotiated. PCMA and PCMU (or a format we do not
    // code) keep the G.711 path; G.722 and Opus take over the stream at
    // their rate and payload type. Takes effect at the next initSession.
    void setCodec(const SdpFormat &format);
    // The audio path's rate and 20 ms of it in bytes, for the codec in use.
    int sampleRate() const;
    int frameBytesNow() const { return sampleRate() / 50 * 2; }
    // "PCMA", "PCMU", "G722", "opus": for the log.
    QString codecName() const;

    void initSession();
    void bindSocket(int port);
    void msgTransmiter();
    void msgReceiver(unsigned char *data, int len);
    // The call's receive figures, once per call.
    // `erleDb` is the echo canceller's, NaN when it was off.
    void logCallFigures(double erleDb);

    static int payloadType(int codec);

    UDPSocket *udpSocket = nullptr;
    // The local port initSession binds, and the far end's address from its
    // SDP, read for every packet sent.
    int localPort = 60000;
    QString remoteIp;
    QString remotePort;
    quint16 seqNumber = 0;
    quint32 timestamp = 0;
    quint32 ssrc = 0xFFFFFFFF;
    int rxCodec = PCMA;
    JitterBuffer rxBuffer;
    DtmfGenerator dtmf;
    QByteArray txPcm;
    // What the call's offer and answer settled, as the user agent last said.
    MediaDescription media;
    // Received sound thrown away: duplicates, late packets, overflow.
    quint64 rxDroppedBytes = 0;

signals:
    void msgTransmiterSignal();
    // The receive figures of a call that ended.
    void callFigures(const JitterBuffer::Figures &figures);

public slots:
    void msgTransmiterSlot();
    void setRemoteAddress(const QString &ip, const QString &port);
    void setMedia(const MediaDescription &description);

private:
    void sendPacket(const unsigned char *payload, int bytes, int payloadType, int ticks);

    SdpFormat wanted;                   // set for the next call
    std::unique_ptr<AudioCodec> codec;  // wideband only; null: G.711
    QElapsedTimer clock;
    bool figuresDue = false;
};

#endif // RTP_H
