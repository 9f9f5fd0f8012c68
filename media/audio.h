#ifndef AUDIO_H
#define AUDIO_H

// The audio devices of a call: creates the two device adapters once, feeds the
// RTP session it is given and plays what it decodes, and starts and stops
// sound for each call.

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QObject>

class AudioInput;
class AudioOutput;
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

    // The PCM format both adapters ask for, or the device's nearest one when
    // it is not supported.
    static QAudioFormat deviceFormat(const QAudioDeviceInfo &info, int sampleRate, int channelCount, int sampleSize);
    // Logs what the device supports and the format chosen for it.
    static void logDeviceFormats(const QAudioDeviceInfo &info, const QAudioFormat &format);

    Rtp *rtp = nullptr;
    AudioInput *audioInput = nullptr;
    AudioOutput *audioOutput = nullptr;
    bool audioActive = false;

signals:
    // Sound started (true) or stopped (false) for a call.
    void activeChanged(bool active);
};

#endif // AUDIO_H
