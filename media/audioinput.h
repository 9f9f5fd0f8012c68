#ifndef AUDIOINPUT_H
#define AUDIOINPUT_H

// Capture adapter: the platform pushes microphone samples into writeData,
// which hands them to the capture path (echo canceller, then the RTP session).

#include <QAudioFormat>
#include <QIODevice>

class Audio;
class QAudioInput;
class Rtp;

class AudioInput : public QIODevice
{
    Q_OBJECT

public:
    // Qt's PulseAudio back end delivers one block per buffer, so the buffer
    // size is the capture period: 20 ms of sound gives a block every 20 ms
    // and nothing is read ahead.
    static constexpr int capturePeriodUs = 20000;

    explicit AudioInput(Audio *audio);
    ~AudioInput() override;

    void createAudioIn(int sampleRate, int channelCount, int sampleSize);
    void audioStart();
    void audioStop();
    Rtp *rtp() const;

    bool running = false;
    Audio *audio = nullptr;
    QAudioInput *audioInput = nullptr;
    QAudioFormat format;

    // The QIODevice hooks, public so the platform-free paths can be driven directly.
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;
};

#endif // AUDIOINPUT_H
