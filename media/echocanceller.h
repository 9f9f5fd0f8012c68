#ifndef ECHOCANCELLER_H
#define ECHOCANCELLER_H

// Acoustic echo cancellation on the capture path, then noise suppression and
// automatic gain, all from libwebrtc-audio-processing (its AEC with the
// extended filter, NS, adaptive digital AGC). It is fed exactly what the
// speaker is given (playback) and what the microphone heard (capture), in
// the order they happen, at the call's audio rate. The time from a sample
// handed to the speaker to its echo in the microphone (device buffers, 40 to
// 200 ms and more) is found by correlating the two signals' 10 ms energy
// envelopes and told to the canceller, whose filter then covers it; it is
// followed when it moves (at 8 kHz the library's own delay search does this
// better, and is used). Switched off (headsets), the microphone passes
// through untouched.

#include <QtGlobal>

#include <memory>
#include <vector>

namespace webrtc {
class AudioFrame;
class AudioProcessing;
}

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

    // Echo return loss enhancement so far, in dB: the median over the 10 ms
    // blocks in which the far end's echo was due; 0 before there is any.
    double erle() const;
    // The delay from speaker to microphone as found, in ms.
    int delayMs() const { return 10 * delayBlocks; }

private:
    void configure();
    bool librarySearchesDelay() const { return sampleRate == 8000; }
    void estimateDelay();

    int sampleRate;
    int block;                 // samples in 10 ms
    bool enabled = false;
    std::unique_ptr<webrtc::AudioProcessing> apm;
    std::unique_ptr<webrtc::AudioFrame> frame;
    std::vector<qint16> pending;     // playback short of a block

    // Delay estimation on log energies of 10 ms blocks.
    std::vector<float> played;       // ring of the speaker's blocks
    qint64 playedCount = 0;
    struct Heard { float energy; qint64 played; };
    std::vector<Heard> heard;        // ring of the microphone's blocks
    qint64 heardCount = 0;
    int delayBlocks = 0;             // found
    int toldBlocks = 0;              // told to the canceller
    int candidate = -1;
    bool located = false;
    // How many 10 ms blocks with far-end speech had each ERLE, by whole dB from erleFloorDb.
    static constexpr int erleFloorDb = -20;
    std::vector<int> erleBlocks = std::vector<int>(101, 0);
};

#endif // ECHOCANCELLER_H
