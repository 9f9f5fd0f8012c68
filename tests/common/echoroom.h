#ifndef ECHOROOM_H
#define ECHOROOM_H

// A laptop's echo path, offline: what the speaker plays comes back into the
// microphone after `delayMs` (which may move once, at `moveAt` samples, to
// `movedMs`) at half its level, with a second reflection 23 ms later at a
// fifth, on top of the near talker and a little noise (-60 dBFS).

#include <QVector>

#include <algorithm>
#include <random>

struct EchoRoom
{
    int rate = 16000;
    int delayMs = 120;
    int movedMs = -1;
    int moveAt = -1;

    // The echo alone, as the microphone hears it.
    QVector<double> echo(const QVector<qint16> &far) const
    {
        QVector<double> e(far.size(), 0.0);
        for (int n = 0; n < far.size(); ++n) {
            const int d = (moveAt >= 0 && n >= moveAt ? movedMs : delayMs) * rate / 1000, d2 = d + 23 * rate / 1000;
            e[n] = (n >= d ? 0.5 * far[n - d] : 0) + (n >= d2 ? 0.2 * far[n - d2] : 0);
        }
        return e;
    }
    QVector<qint16> microphone(const QVector<qint16> &far, const QVector<qint16> &near) const
    {
        const QVector<double> e = echo(far);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 33.0);
        QVector<qint16> mic(far.size());
        for (int n = 0; n < far.size(); ++n)
            mic[n] = qint16(std::clamp(e[n] + near.value(n) + noise(random), -32768.0, 32767.0));
        return mic;
    }
};

#endif // ECHOROOM_H
