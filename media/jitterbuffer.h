#ifndef JITTERBUFFER_H
#define JITTERBUFFER_H

// The receive side of a call between the socket and the speaker: packets are
// put in sequence order (16-bit numbers extended across the wrap), duplicates
// and packets whose turn has passed are dropped and counted, and playout waits
// a target delay that follows the interarrival jitter of RFC 3550 A.8. A lost
// packet is covered by the last pitch period repeated, 6 dB quieter each
// 20 ms and silent after 60 ms; sound after a gap fades in. Samples are
// mono at the call's rate (8000 Hz unless told otherwise); times are
// milliseconds on any steady clock. With a decoder, packets are held coded
// and decoded in order as they are played, and a codec with concealment of
// its own (Opus: PLC, and in-band FEC from the packet after the loss) covers
// a lost packet in place of the pitch repetition.

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include <map>

class AudioCodec;

class JitterBuffer
{
public:
    // The narrowband call, the default.
    static constexpr int rate = 8000;
    static constexpr int frameSamples = 160;       // 20 ms
    static constexpr int minTargetMs = 40;         // a clean link
    static constexpr int maxTargetMs = 200;        // also the most ever held
    // What the playback device keeps queued at least (20 ms: the sound
    // server's 30 ms less the 10 ms it asks for at a time, or Qt's 40 ms
    // less its 20 ms period): part of the target, so not held here as well.
    static constexpr int deviceMs = 20;

    struct Figures
    {
        quint64 received = 0, lost = 0, late = 0, duplicated = 0;
        double meanJitterMs = 0, maxJitterMs = 0;
        int targetMs = minTargetMs;
    };

    JitterBuffer();
    // Empties the buffer; the rate and the decoder stay.
    void reset();
    // A call at another rate, its RTP timestamps counting `clockRate` (8000
    // for G.722 at 16 kHz, 48000 for Opus), decoding with `codec` (not owned;
    // null: the pushed samples are linear already). Empties the buffer.
    void setFormat(int sampleRate, int clockRate, AudioCodec *codec = nullptr);
    int sampleRate() const { return hz; }
    void push(quint16 sequence, quint32 timestamp, quint32 ssrc, const qint16 *samples, int count, double arrivalMs);
    // A coded 20 ms payload, for the decoder given to setFormat.
    void pushPayload(quint16 sequence, quint32 timestamp, quint32 ssrc, const QByteArray &payload, double arrivalMs);
    // Always fills all `count` samples: sound, concealment or silence.
    void pull(qint16 *out, int count);

    Figures figures() const;
    int targetMs() const;
    double jitterMs() const { return jitter / (clockHz / 1000.0); }
    // Lost packets the codec's own concealment covered.
    quint64 codecConcealed() const { return concealedByCodec; }
    // Samples from the next one due to the newest received, gaps included.
    int bufferedSamples() const;
    quint64 droppedSamples() const { return dropped; }

private:
    void store(quint16 sequence, quint32 timestamp, quint32 ssrc, const qint16 *samples, int count,
               const QByteArray &payload, double arrivalMs);
    void decodeDue(std::map<qint64, QVector<qint16>>::iterator it);
    void newStream(quint16 sequence);
    int holdSamples() const;
    void conceal(qint16 *out, int count);
    QVector<qint16> catchUp(qint64 upTo, const QByteArray &following);
    QVector<qint16> decodeInOrder(qint64 ext, const QByteArray &payload);
    int silenceAfter() const { return 3 * frame; }   // 60 ms
    int ramp() const { return 5 * hz / 1000; }     // long enough not to click
    int fade() const { return 10 * hz / 1000; }    // cross-fade back to sound
    // Pitch periods of 66 to 200 Hz, or two of higher.
    int minLag() const { return 5 * hz / 1000; }
    int maxLag() const { return 15 * hz / 1000; }
    double concealed(int t) const;
    void play(const QVector<qint16> &sound, qint16 *out, int count);
    bool shrink(QVector<qint16> &sound);

    int hz = rate;
    int clockHz = rate;          // RTP timestamp units per second
    int frame = frameSamples;    // 20 ms at hz
    AudioCodec *decoder = nullptr;
    std::map<qint64, QVector<qint16>> frames;  // by extended sequence number
    std::map<qint64, QByteArray> coded;        // payloads not yet decoded, by the same numbers
    quint64 concealedByCodec = 0;
    qint64 heard = -1;         // the last frame the decoder has decoded or concealed
    bool started = false;     // a packet has been seen
    bool playing = false;     // false while (re)filling to the target
    quint32 ssrc = 0;
    qint64 highest = 0;       // extended sequence number of the newest packet
    quint16 highestSequence = 0;
    qint64 base = 0;          // first of the current stream
    qint64 next = 0;          // the one due at the speaker
    bool nextValid = false;
    qint64 seen[512];         // recent extended numbers, for duplicates
    int position = 0;         // samples of `next` already played
    int frameLength = frameSamples;
    int restartCandidate = -1;

    // jitter in timestamp units
    double jitter = 0, lastArrival = 0;
    quint32 lastTimestamp = 0;
    bool haveTransit = false;
    double jitterSumMs = 0, jitterMaxMs = 0;
    quint64 jitterCount = 0;

    quint64 received = 0, unique = 0, late = 0, duplicated = 0, expectedBefore = 0, dropped = 0;

    // concealment
    QVector<qint16> history = QVector<qint16>(2 * frameSamples, 0);  // the last samples played
    QVector<qint16> cycle;    // the pitch period repeated over a gap
    int missing = 0;          // samples concealed since the last real one
    int heldForNext = 0;      // of those, spent waiting for `next`
    int resumeAt = -1;        // `missing` when sound came back, during the fade-in
    int fadeDone = 0;
};

#endif // JITTERBUFFER_H
