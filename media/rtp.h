#ifndef RTP_H
#define RTP_H

// The RTP session of a call: 20 ms packets out of the captured samples, G.711
// unless the call settled on a wideband codec (G.722, Opus), whose rate the
// whole audio path then runs at (keys as RFC 4733 events when the far end takes
// them, else as in-band DTMF mixed into G.711); received packets go into the
// jitter buffer the speaker plays from. One object for the life of the
// process; counters run on from call to call.

#include "dtmfgenerator.h"
#include "mediadescription.h"
#include "jitterbuffer.h"
#include "sdpformat.h"
#include "telephoneevent.h"
#include "srtpsession.h"

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
    // their rate and payload type. Takes effect at the next initSession, or
    // at once when a running session's codec changes (a re-offer moved the
    // call, or the answer after early media named another): codecChanged.
    void setCodec(const SdpFormat &format);
    // The audio path's rate and 20 ms of it in bytes, for the codec in use.
    int sampleRate() const;
    int frameBytesNow() const { return sampleRate() / 50 * 2; }
    // "PCMA", "PCMU", "G722", "opus": for the log.
    QString codecName() const;

    void initSession();
    // The call's sound stopped: a codec negotiated from now on waits for the next initSession.
    void endSession() { inSession = false; }
    void bindSocket(int port);
    void msgTransmiter();
    void msgReceiver(unsigned char *data, int len);
    // The call's receive figures, once per call.
    // `erleDb` is the echo canceller's, NaN when it was off.
    void logCallFigures(double erleDb);

    static int payloadType(int codec);

    // A key pressed in the call: RFC 4733 events when the far end's SDP has
    // telephone-event, else the in-band tone pair. False for a key that is neither.
    bool sendKey(QChar key);

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
    TelephoneEventSender events;
    TelephoneEventReceiver eventReceiver;
    // The far end's telephone-event payload type, -1 when it has none.
    int eventPayloadType = -1;
    // False while the far end holds the call (sendonly, inactive): nothing is
    // sent, the clock runs on.
    bool sending = true;
    QByteArray txPcm;
    // What the call's offer and answer settled, as the user agent last said.
    MediaDescription media;
    // Received sound thrown away: duplicates, late packets, overflow.
    quint64 rxDroppedBytes = 0;
    // Packets refused by SRTP: a bad tag, a replay, clear RTP in an encrypted call.
    quint64 rxRejected = 0;

    // SRTP for the call from the negotiated crypto lines: ours keys what we
    // send, theirs what we receive; both carry the one suite chosen. Once on,
    // every packet goes out protected and every packet that does not
    // authenticate is dropped. False (and clear RTP) when libsrtp refuses
    // the keys. clearSrtp() returns to clear RTP and forgets the keys.
    bool setSrtp(const SdesCrypto &ours, const SdesCrypto &theirs);
    void clearSrtp();
    bool srtpActive() const { return srtp.isActive(); }

signals:
    void msgTransmiterSignal();
    // The receive figures of a call that ended.
    void callFigures(const JitterBuffer::Figures &figures);
    // A key the far end sent as an RFC 4733 event, once per event.
    void keyReceived(QChar key);
    // The media went over to SRTP (true) or back to clear RTP.
    void encryptionChanged(bool srtp);
    // The running session took another codec; the audio path runs at sampleRate() from now on.
    void codecChanged();

public slots:
    void msgTransmiterSlot();
    void setRemoteAddress(const QString &ip, const QString &port);
    void setMedia(const MediaDescription &description);
    void setTelephoneEvent(int payloadType);
    void setSending(bool on);

private:
    SdpFormat wanted;                   // set for the next call
    SdpFormat applied;                  // what the session runs with
    bool inSession = false;
    std::unique_ptr<AudioCodec> codec;  // wideband only; null: G.711
    // What the call received under the codecs it had before this one.
    JitterBuffer::Figures earlier;

    // Coder, decoder, jitter buffer and event clock for `wanted`.
    void applyCodec();

    void transmit(unsigned char *packet, int len);
    SrtpSession srtp;
    QElapsedTimer clock;
    bool figuresDue = false;
};

#endif // RTP_H
