#pragma once

// Test tones as 16-bit little-endian mono PCM at 8000 Hz, and their
// measurement: the level of one frequency by a Goertzel filter, the dominant
// frequency, the RMS, and the DTMF keys a telephone menu would hear.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtEndian>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <tuple>

namespace Tone {
// amplitude is linear, 1.0 = full scale; `phase` in samples
inline QByteArray sine(double frequency, double amplitude, int samples, int rate = 8000, qint64 phase = 0)
{
    QByteArray pcm(2 * samples, '\0');
    for (int i = 0; i < samples; ++i)
        qToLittleEndian(qint16(std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * frequency * double(i + phase) / rate))), pcm.data() + 2 * i);
    return pcm;
}

inline QVector<double> samples(const QByteArray &pcm)
{
    QVector<double> out(pcm.size() / 2);
    for (int i = 0; i < out.size(); ++i)
        out[i] = qFromLittleEndian<qint16>(pcm.constData() + 2 * i) / 32768.0;
    return out;
}

// Amplitude (1.0 = full scale) of the component at `frequency`.
inline double level(const QByteArray &pcm, double frequency, int rate = 8000)
{
    const QVector<double> x = samples(pcm);
    const int n = x.size();
    const double coeff = 2.0 * std::cos(2.0 * M_PI * frequency / rate);
    double s1 = 0.0, s2 = 0.0;
    // Hann window keeps a tone between bins from leaking its level away.
    for (int i = 0; i < n; ++i)
        std::tie(s1, s2) = std::make_pair(x[i] * (0.5 - 0.5 * std::cos(2.0 * M_PI * i / n)) + coeff * s1 - s2, s1);
    // The Hann window's coherent gain is 0.5.
    return n ? 2.0 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2)) / (n * 0.5) : 0.0;
}

// The strongest frequency between 100 and rate/2 - 100 Hz, in 10 Hz steps.
inline double dominant(const QByteArray &pcm, int rate = 8000)
{
    double best = 0.0, bestLevel = -1.0;
    for (int f = 100; f <= rate / 2 - 100; f += 10)
        if (level(pcm, f, rate) > bestLevel)
            bestLevel = level(pcm, f, rate), best = f;
    return best;
}

inline double rms(const QByteArray &pcm)
{
    const QVector<double> x = samples(pcm);
    return x.isEmpty() ? 0.0 : std::sqrt(std::inner_product(x.begin(), x.end(), x.begin(), 0.0) / x.size());
}

// Keys held for 60 ms or more, in order: one row and one column tone
// within 6 dB of each other, each above -25 dBFS and 10 dB above the
// other tones of its group.
inline QString dtmf(const QByteArray &pcm, int rate = 8000)
{
    const int step = rate / 100; // 10 ms
    static const double tones[] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
    QString heard;
    QChar last;
    for (int at = 0, run = 0; at + 4 * step <= pcm.size() / 2; at += step) {   // 40 ms windows, 10 ms apart
        double l[8];
        for (int i = 0; i < 8; ++i)
            l[i] = level(pcm.mid(2 * at, 8 * step), tones[i], rate);
        // the strongest of each group: above -25 dBFS, 10 dB above the rest of its group
        const int r = int(std::max_element(l, l + 4) - l), c = int(std::max_element(l + 4, l + 8) - l);
        bool pair = l[r] > 0.056 && l[c] > 0.056 && l[r] < 2 * l[c] && l[c] < 2 * l[r];
        for (int i = 0; i < 8; ++i)
            pair = pair && (i == r || i == c || l[i] * 3.16 < l[i < 4 ? r : c]);
        const QChar key = pair ? QChar("123A456B789C*0#D"[4 * r + c - 4]) : QChar();
        run = key == last ? run + 1 : 1, last = key;
        if (!key.isNull() && run == 3) // 60 ms of the same pair
            heard += key;
    }
    return heard;
}

// A synthetic voice, not a steady tone: syllables of harmonics of a
// gliding pitch around `pitch` Hz shaped by changing vowel formants, in
// words with pauses between them; about -20 dBFS while speaking. The same
// `seed` gives the same voice.
inline QVector<qint16> voice(int samples, int rate, quint32 seed, double pitch = 120)
{
    static const double vowels[][3] = {{700, 1200, 2600}, {300, 2300, 3000}, {500, 900, 2500}, {400, 1900, 2600}, {600, 1700, 2400}};
    std::mt19937 random(seed);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
    QVector<qint16> out(samples, 0);
    double phase = 0;
    for (int at = 0; at < samples;) {
        const int syllables = 2 + int(random() % 3);
        for (int s = 0; s < syllables && at < samples; ++s) {
            const double *f = vowels[random() % 5];
            // a formant peak of the vowel at harmonic frequency h: the first at full height, 100 Hz wide
            const auto peak = [f](int j, double h) { return (j == 0 ? 1.0 : 0.5) / (1 + std::pow((h - f[j]) / 100, 2)); };
            const int length = int(uniform(0.12, 0.25) * rate);
            const double f0 = pitch * uniform(0.85, 1.2), glide = uniform(-0.25, 0.25);
            for (int i = 0; i < length && at < samples; ++i, ++at) {
                const double t = double(i) / length, f0t = f0 * (1 + glide * t);
                phase += 2 * M_PI * f0t / rate;
                double v = 0;
                for (int k = 1; k * f0t < std::min(rate / 2.0 - 200, 7000.0); ++k)
                    v += (peak(0, k * f0t) + peak(1, k * f0t) + peak(2, k * f0t) + 0.02) * std::sin(k * phase);
                out[at] = qint16(std::lround(2200 * v * std::pow(std::sin(M_PI * t), 2)));
            }
        }
        at += int(uniform(0.15, 0.4) * rate);   // a pause between words
    }
    return out;
}

// The PCM of a 16-bit WAV file, first channel, its rate in `rate`; 48 kHz comes at 16 kHz.
inline QByteArray fromWav(const QByteArray &wav, int *rate = nullptr)
{
    // The format's channels and rate, then all after "data" (a recorder still writing may leave its size 0):
    // the first channel, 48 kHz taken to 16 kHz by every third sample (nothing the tests send lies above 8 kHz).
    const int format = wav.indexOf("fmt "), data = wav.indexOf("data", format);
    if (format < 0 || data < 0 || format + 16 > wav.size())
        return QByteArray();
    const int channels = qMax(1, int(qFromLittleEndian<quint16>(wav.constData() + format + 10)));
    const int wavRate = int(qFromLittleEndian<quint32>(wav.constData() + format + 12)), every = wavRate == 48000 ? 3 : 1;
    QByteArray pcm;
    for (int at = data + 8; at + 2 <= wav.size(); at += 2 * channels * every)
        pcm += wav.mid(at, 2);
    if (rate)
        *rate = wavRate / every;
    return pcm;
}
} // namespace Tone
