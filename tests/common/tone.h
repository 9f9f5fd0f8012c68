#pragma once

// Test tones as 16-bit little-endian mono PCM at 8000 Hz, and their
// measurement: the level of one frequency by a Goertzel filter, the dominant
// frequency, the RMS, and the DTMF keys a telephone menu would hear.

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Tone {
// amplitude is linear, 1.0 = full scale; `phase` in samples
QByteArray sine(double frequency, double amplitude, int samples, int rate = 8000, qint64 phase = 0);
QVector<double> samples(const QByteArray &pcm);
// Amplitude (1.0 = full scale) of the component at `frequency`.
double level(const QByteArray &pcm, double frequency, int rate = 8000);
// The strongest frequency between 100 and rate/2 - 100 Hz, in 10 Hz steps.
double dominant(const QByteArray &pcm, int rate = 8000);
double rms(const QByteArray &pcm);
// Keys held for 60 ms or more, in order: one row and one column tone
// within 6 dB of each other, each above -25 dBFS and 10 dB above the
// other tones of its group.
QString dtmf(const QByteArray &pcm, int rate = 8000);
// The PCM of a 16-bit WAV file, first channel, its rate in `rate`; 48 kHz comes at 16 kHz.
QByteArray fromWav(const QByteArray &wav, int *rate = nullptr);
// A synthetic voice, not a steady tone: syllables of harmonics of a
// gliding pitch around `pitch` Hz shaped by changing vowel formants, in
// words with pauses between them; about -20 dBFS while speaking. The same
// `seed` gives the same voice.
QVector<qint16> voice(int samples, int rate, quint32 seed, double pitch = 120);
} // namespace Tone
