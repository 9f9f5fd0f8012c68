#include "tone.h"

#include <QtMath>

#include <algorithm>
#include <cmath>

QByteArray Tone::sine(double frequency, double amplitude, int samples, int rate)
{
    QByteArray pcm(2 * samples, '\0');
    for (int i = 0; i < samples; ++i) {
        const double v = amplitude * 32767.0 * std::sin(2.0 * M_PI * frequency * i / rate);
        const qint16 s = static_cast<qint16>(std::lround(v));
        pcm[2 * i] = static_cast<char>(s & 0xFF);
        pcm[2 * i + 1] = static_cast<char>((s >> 8) & 0xFF);
    }
    return pcm;
}

QVector<double> Tone::samples(const QByteArray &pcm)
{
    QVector<double> out(pcm.size() / 2);
    const auto *p = reinterpret_cast<const unsigned char *>(pcm.constData());
    for (int i = 0; i < out.size(); ++i)
        out[i] = static_cast<qint16>(static_cast<quint16>(p[2 * i] | (p[2 * i + 1] << 8))) / 32768.0;
    return out;
}

double Tone::level(const QByteArray &pcm, double frequency, int rate)
{
    const QVector<double> x = samples(pcm);
    const int n = x.size();
    if (n == 0)
        return 0.0;
    const double w = 2.0 * M_PI * frequency / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    for (int i = 0; i < n; ++i) {
        // Hann window keeps a tone between bins from leaking its level away.
        const double win = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / n);
        const double s0 = x[i] * win + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    // The Hann window's coherent gain is 0.5.
    return 2.0 * std::sqrt(std::max(0.0, power)) / (n * 0.5);
}

double Tone::dominant(const QByteArray &pcm, int rate)
{
    double best = 0.0, bestLevel = -1.0;
    for (int f = 100; f <= rate / 2 - 100; f += 10) {
        const double l = level(pcm, f, rate);
        if (l > bestLevel) {
            bestLevel = l;
            best = f;
        }
    }
    return best;
}

double Tone::rms(const QByteArray &pcm)
{
    const QVector<double> x = samples(pcm);
    if (x.isEmpty())
        return 0.0;
    double sum = 0.0;
    for (double v : x)
        sum += v * v;
    return std::sqrt(sum / x.size());
}

double Tone::dbfs(double amplitude)
{
    return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -200.0;
}

QList<QByteArray> Tone::loudBlocks(const QByteArray &pcm, double threshold, int blockSamples)
{
    QList<QByteArray> out;
    const int blockBytes = 2 * blockSamples;
    for (int off = 0; off + blockBytes <= pcm.size(); off += blockBytes) {
        const QByteArray block = pcm.mid(off, blockBytes);
        if (rms(block) >= threshold)
            out.append(block);
    }
    if (!out.isEmpty())
        out.removeFirst();
    if (!out.isEmpty())
        out.removeLast();
    return out;
}

double Tone::median(QVector<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}
