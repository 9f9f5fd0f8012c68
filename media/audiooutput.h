#ifndef AUDIOOUTPUT_H
#define AUDIOOUTPUT_H

// Playback adapter: the platform pulls speaker samples from readData, which
// drains what the RTP session decoded and covers short gaps.

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
    static constexpr int playbackBufferBytes = 1600;  // 100 ms
    static constexpr int lastChunkCapacity = 20000;
    static constexpr int startChunkBytes = 960;
    // A gap longer than this is a pause of the peer, not a lost packet: play
    // silence rather than buzz the last chunk at the packet rate.
    static constexpr int maxRepeatBytes = 960;        // 60 ms

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
    QByteArray lastChunk;
    int lastLength = 0;
    int repeatedBytes = 0;
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;
};

#endif // AUDIOOUTPUT_H
