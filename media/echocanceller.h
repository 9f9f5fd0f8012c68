#ifndef ECHOCANCELLER_H
#define ECHOCANCELLER_H

// Acoustic echo cancellation on the capture path, then noise suppression and
// automatic gain. It is fed exactly what the speaker is given (playback) and
// what the microphone heard (capture), in the order they happen, at the
// call's audio rate. The time from a sample handed to the speaker to its echo
// in the microphone (device buffers, 40 to 200 ms and more) is found by
// correlating the two signals' 10 ms energy envelopes, and followed when it
// moves. The echo is taken out in three steps:
// - libspeexdsp's linear filter (MDF), fed what was played the found delay
//   before (less a margin), so that its 200 ms cover the echo and its
//   reflections; it takes most of the echo out and leaves the near talker;
// - libspeexdsp's preprocessor (not at 8 kHz): what the filter says it left
//   of the echo is suppressed, with its noise;
// - libwebrtc-audio-processing's AEC for what is left, then its noise
//   suppression, adaptive digital gain and high-pass filter. At 8 kHz it is
//   given what was played and finds the delay itself (a move of ours does not
//   upset it there); at other rates it is given the same aligned reference as
//   the filter.
// When the speaker runs dry (the process was starved), everything it plays
// after comes later: the filter's reference is moved to where the echo now
// lies, found by matching the learned path against what the microphone heard,
// so that the filter need not learn the path again.
// Switched off (headsets), the microphone passes through untouched.

#include <QtGlobal>

#include <memory>
#include <vector>

namespace webrtc {
class AudioFrame;
class AudioProcessing;
}
struct SpeexEchoState_;
struct SpeexPreprocessState_;

class EchoCanceller
{
public:
    // 8000, 16000, 32000 or 48000 Hz; at another rate it passes the microphone through. On at start.
    explicit EchoCanceller(int rate = 16000);
    ~EchoCanceller();
    EchoCanceller(const EchoCanceller &) = delete;
    EchoCanceller &operator=(const EchoCanceller &) = delete;

    int rate() const { return sampleRate; }
    void setEnabled(bool on);
    bool isEnabled() const { return enabled; }
    // A new call: forget the echo path and the figures.
    void reset();

    // What the speaker is given. Whole 10 ms blocks count; a remainder waits for the next call.
    void playback(const qint16 *frame, int samples);
    // The microphone's frame, cleaned in place: whole 10 ms blocks are
    // processed, a remainder passes as it is.
    void capture(qint16 *frame, int samples);

    // The speaker ran dry: it played silence and plays all after it later.
    void playbackInterrupted();

    // Echo return loss enhancement so far, in dB: the median over the 10 ms
    // blocks in which the far end's echo was due; 0 before there is any.
    double erle() const;
    // The delay from speaker to microphone as found, in ms.
    int delayMs() const { return 10 * delayBlocks; }

private:
    void configure();
    void release();
    bool librarySearchesDelay() const { return sampleRate == 8000; }
    bool preprocessed() const { return sampleRate != 8000; }
    void estimateDelay();
    // Whether the far end spoke within `span` blocks of the block whose echo is heard now.
    bool farTalks(int span) const;
    // Blocks played less blocks heard, on average over the last `blocks` heard: the speaker's lead.
    double lead(int blocks) const;
    // The microphone's sample t holds the echo of the speaker's sample t - echoOffset(): the told
    // delay, counted in blocks of both streams, and the reference's move since.
    qint64 echoOffset() const;
    // The speaker's `n`th sample of the call, 0 when it is not (or no longer) kept.
    qint16 speakerSample(qint64 n) const;
    // Matches the learned echo path to what was heard after the speaker ran dry, and moves the
    // reference: a slice of the match in each block heard from when it is due.
    void realign();
    void startFit();
    bool fitStep();   // true once the match is whole
    void finishFit();

    int sampleRate;
    int block;                 // samples in 10 ms
    bool enabled = false;
    std::unique_ptr<webrtc::AudioProcessing> apm;
    std::unique_ptr<webrtc::AudioFrame> frame;
    SpeexEchoState_ *filter = nullptr;
    SpeexPreprocessState_ *residual = nullptr;
    std::vector<qint16> pending;     // playback short of a block
    std::vector<qint16> reference;   // ring of the speaker's samples, whole blocks
    std::vector<qint16> cleaned;     // one block out of the filter
    std::vector<qint16> heardSamples; // ring of the microphone's samples, as heard
    std::vector<qint16> aligned;     // one block of the reference, as the filter gets it
    qint64 shiftSamples = 0;         // the reference moved by, since the delay was last told
    qint64 heldFrom = 0;             // the block heard from which the moved echo can arrive
    qint64 dryFrom = 0;              // the same, for the speaker's last dry spell, whatever was under way
    qint64 realignAt = 0;            // the block heard at which to match the path; 0: none due
    qint64 settledAt = 0;            // the block heard until which the microphone stays held after a move
    int tries = 0;
    bool matched = false;            // a match moved the reference after the speaker's last dry spell
    struct Fit;
    std::unique_ptr<Fit> fit;        // the match under way, if any

    // Delay estimation on log energies of 10 ms blocks.
    std::vector<float> played;       // ring of the speaker's blocks
    qint64 playedCount = 0;
    struct Heard { float energy; qint64 played; };
    std::vector<Heard> heard;        // ring of the microphone's blocks
    qint64 heardCount = 0;
    int delayBlocks = 0;             // found
    int toldBlocks = 0;              // told to the canceller
    int toldFor = -1;                // the delay found when last told; -1: none yet
    double skew = 0;                 // blocks played less blocks heard, when told (a mean)
    int candidate = -1;
    bool located = false;
    // How many 10 ms blocks with far-end speech had each ERLE, by whole dB from erleFloorDb.
    static constexpr int erleFloorDb = -20;
    std::vector<int> erleBlocks = std::vector<int>(101, 0);
};

#endif // ECHOCANCELLER_H
