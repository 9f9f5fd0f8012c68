#ifndef RTP_H
#define RTP_H

// The RTP session of a call: 20 ms G.711 packets out of the captured samples,
// received packets decoded for playback. One object for the life of the
// process; counters run on from call to call.

#include <QByteArray>
#include <QObject>

class Audio;
class MainWindow;
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
    static constexpr int rxPcmLimit = 3200;      // 200 ms waiting for playback at most

    explicit Rtp(Audio *audio);

    void initSession();
    void bindSocket(int port);
    void msgTransmiter();
    void msgReceiver(unsigned char *data, int len);

    // The store of network fields: the owner's main window, or the global one
    // when the session stands alone.
    MainWindow *mainWindow() const;
    static int payloadType(int codec);

    UDPSocket *udpSocket = nullptr;
    Audio *audio = nullptr;
    quint16 seqNumber = 0;
    quint32 timestamp = 0;
    quint32 ssrc = 0xFFFFFFFF;
    int rxCodec = PCMA;
    QByteArray rxPcm;
    QByteArray txPcm;
    quint64 rxDroppedBytes = 0;

signals:
    void msgTransmiterSignal();

public slots:
    void msgTransmiterSlot();

private:
    bool rxDropping = false;
};

#endif // RTP_H
