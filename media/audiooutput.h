#ifndef AUDIOOUTPUT_H
#define AUDIOOUTPUT_H

// Playback adapter: the platform pulls speaker samples from readData, which
// takes them from the RTP session's jitter buffer.

#include <QAudioFormat>
#include <QByteArray>
#include <QIODevice>

class Audio;
class QAudioOutput;
class Rtp;

class AudioOutput : public QIODevice
{
    Q_OBJECT

public:
    // 40 ms with a 20 ms period: the jitter buffer does the waiting.
    static constexpr int playbackBufferUs = 40000;

    explicit AudioOutput(Audio *audio);
    ~AudioOutput() override;

    void createAudioOut(int sampleRate, int channelCount, int sampleSize);
    void audioStart();
    void audioStop();
    Rtp *rtp() const;

    bool running = false;
    Audio *audio = nullptr;
    QAudioOutput *audioOutput = nullptr;
    QAudioFormat format;

    // The QIODevice hooks, public so the platform-free paths can be driven directly.
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;
};

#endif // AUDIOOUTPUT_H
