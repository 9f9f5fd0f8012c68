#ifndef AUDIO_H
#define AUDIO_H

// The audio devices of a call: the sound server's own (PulseAudio or
// PipeWire), else Qt's two device adapters. It feeds the RTP session it is
// given through the echo canceller, plays what it decodes, and starts and
// stops sound for each call. The devices run at the call's rate (8 kHz for
// G.711, 16 kHz for G.722 and Opus): the server's streams open for each call,
// Qt's devices again only when the rate changes, and both again within a call
// that moves to a codec of another rate. It lives on the audio thread
// that created it; the calls below may come from any thread and run there,
// the caller waiting.

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QByteArray>
#include <QObject>

#include <atomic>
#include <memory>

class AudioInput;
class EchoCanceller;
class AudioOutput;
class PulseDevices;
class Rtp;

class Audio : public QObject
{
    Q_OBJECT

public:
    explicit Audio(Rtp *rtp, QObject *parent = nullptr);
    ~Audio() override;

    void audioInit();
    void createAudioIn(int sampleRate, int channelCount, int sampleSize);
    void createAudioOut(int sampleRate, int channelCount, int sampleSize);

    void audioStart();
    void audioStop();
    void audioStartSpeaker();
    // Queues a key pressed during the call (RFC 4733 events or in-band DTMF,
    // as the far end takes them); false when no call is up or the key is none.
    bool sendDtmf(QChar key);
    void setMicValue(float v);
    void setSpeakerValue(float v);
    // The canceller's switch (headsets need none); from the next call on.
    void setEchoCancel(bool on);

    // The capture path: microphone blocks in, cleaned 10 ms at a time, to the RTP session.
    void captured(const char *data, int len);
    // The speaker's next samples from the jitter buffer, given to the canceller
    // as its reference, then set to `level` (1: as they are).
    void fillSpeaker(qint16 *out, int count, float level);
    // The speaker ran dry since it was last given samples.
    void playbackRanDry();
    // Speaker open, for early media or a call.
    bool speakerRunning() const;
    // The canceller's ERLE so far in this call, NaN when it is off.
    double erle() const;

    // The PCM format both adapters ask for, or the device's nearest one when
    // it is not supported.
    static QAudioFormat deviceFormat(const QAudioDeviceInfo &info, int sampleRate, int channelCount, int sampleSize);
    // Logs what the device supports and the format chosen for it.
    static void logDeviceFormats(const QAudioDeviceInfo &info, const QAudioFormat &format);

    Rtp *rtp = nullptr;
    AudioInput *audioInput = nullptr;
    AudioOutput *audioOutput = nullptr;
    std::atomic_bool audioActive{false};
    std::unique_ptr<EchoCanceller> echoCanceller;

private:
    // Devices and canceller at the RTP session's rate.
    void useRate();
    void start();
    void stop();
    void startSpeaker();
    void startCapture();
    void startPlayback();
    // Both devices closed, on either path.
    void stopDevices();
    // The call's codec changed: at another rate the devices open again at it, with a canceller for it.
    void followCodec();
    // This call's devices: the sound server's where it is connected, else Qt's.
    void chooseDevices();
    // The capture path after the microphone's level, where the sound server
    // delivers (the Qt devices set it themselves).
    void capturedAtLevel(const char *data, int len);

    int deviceRate = 8000;
    bool echoCancel = true;
    float micValue = 0.8f;
    float speakerValue = 1.0f;
    QByteArray micPending;   // short of a 10 ms block
    // The sound server's devices where one answers, else the Qt ones.
    std::unique_ptr<PulseDevices> pulse;
    bool direct = false;     // this call's sound goes through `pulse`

signals:
    // Sound started (true) or stopped (false) for a call.
    void activeChanged(bool active);
};

#endif // AUDIO_H
