#ifndef AUDIO_H
#define AUDIO_H

// The media owner: creates the user agent, the RTP session and the two device
// adapters once, and starts and stops sound for each call.

#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QObject>

class AudioInput;
class AudioOutput;
class MainWindow;
class Rtp;
class Sip;

class Audio : public QObject
{
    Q_OBJECT

public:
    explicit Audio(MainWindow *mainWindow);
    ~Audio() override;

    void audioInit();
    void createAudioIn(int sampleRate, int channelCount, int sampleSize);
    void createAudioOut(int sampleRate, int channelCount, int sampleSize);

    void audioStart();
    void audioStop();
    void audioStartSpeaker();
    // Queues a key pressed during the call as in-band DTMF; false when no
    // call is up or the key has no tone pair.
    bool sendDtmf(QChar key);
    void setMicValue(float v);
    void setSpeakerValue(float v);

    // The PCM format both adapters ask for, or the device's nearest one when
    // it is not supported.
    static QAudioFormat deviceFormat(const QAudioDeviceInfo &info, int sampleRate, int channelCount, int sampleSize);
    // Logs what the device supports and the format chosen for it.
    static void logDeviceFormats(const QAudioDeviceInfo &info, const QAudioFormat &format);

    MainWindow *mainWindow = nullptr;
    Sip *sip = nullptr;
    Rtp *rtp = nullptr;
    AudioInput *audioInput = nullptr;
    AudioOutput *audioOutput = nullptr;
    bool audioActive = false;
};

#endif // AUDIO_H
