#ifndef DTMFGENERATOR_H
#define DTMFGENERATOR_H

// In-band DTMF for keys pressed during a call: each key's ITU-T Q.23 tone
// pair is added to the outgoing samples for 100 ms, then 60 ms of the plain
// microphone signal follow; keys pressed faster than that wait their turn.

#include <QString>

class DtmfGenerator
{
public:
    static constexpr int rate = 8000;
    static constexpr int toneSamples = 800;    // 100 ms
    static constexpr int pauseSamples = 480;   // 60 ms
    // -10 dBm0 per tone: 13.14 dB below a full-scale sine, G.711's +3.14 dBm0
    static constexpr double amplitude = 7218.0;

    // False (and nothing queued) for a key without a tone pair.
    bool queue(QChar key);
    // Adds what is due to `samples` 16-bit little-endian samples in place.
    void mix(unsigned char *pcm, int samples);
    bool idle() const { return keys.isEmpty(); }
    void clear();

private:
    QString keys;
    int position = 0;   // samples into the first key's tone and pause
};

#endif // DTMFGENERATOR_H
