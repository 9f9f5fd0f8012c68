#ifndef TONE_H
#define TONE_H

// Test tones as 16-bit little-endian mono PCM, and their measurement: the level
// of one frequency by a Goertzel filter, the dominant frequency, the RMS.

#include <QByteArray>
#include <QList>
#include <QVector>

class Tone
{
public:
    // amplitude is linear, 1.0 = full scale
    static QByteArray sine(double frequency, double amplitude, int samples, int rate = 8000);
    static QVector<double> samples(const QByteArray &pcm);
    // Amplitude (1.0 = full scale) of the component at `frequency`.
    static double level(const QByteArray &pcm, double frequency, int rate = 8000);
    // The strongest frequency between 100 and rate/2 - 100 Hz, in 10 Hz steps.
    static double dominant(const QByteArray &pcm, int rate = 8000);
    static double rms(const QByteArray &pcm);
    static double dbfs(double amplitude);
    // The loud part of a recording: blocks of `blockSamples` whose RMS reaches
    // `threshold`, without the first and last loud block (the onset and the end
    // smeared through the device buffers).
    static QList<QByteArray> loudBlocks(const QByteArray &pcm, double threshold, int blockSamples = 800);
    static double median(QVector<double> values);
};

#endif // TONE_H
