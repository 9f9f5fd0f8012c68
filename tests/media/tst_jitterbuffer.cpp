// The jitter buffer alone, on a simulated clock: order across the sequence
// wrap, duplicates and late packets dropped and counted, the target delay
// following the jitter and coming back down, and a gap faded out and back in
// without a step in the waveform.

#include "jitterbuffer.h"
#include "tone.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

class TstJitterBuffer : public QObject
{
    Q_OBJECT

private slots:
    void order_data();
    void order();
    void adaptation();
    void concealment();

private:
    // A frame of the sine's continuous phase for packet `seq`, 20 ms apart.
    void push(quint16 seq, qint64 index, double arrivalMs, double frequency = 1025)
    {
        const QVector<double> x = Tone::samples(Tone::sine(frequency, 0.5, 160, 8000, 160 * index));
        QVector<qint16> s(160);
        for (int i = 0; i < 160; ++i)
            s[i] = qint16(std::lround(x[i] * 32768));
        buffer.push(seq, quint32(160 * index), 7, s.constData(), 160, arrivalMs);
    }
    QVector<qint16> pull(int samples)
    {
        QVector<qint16> out(samples);
        buffer.pull(out.data(), samples);
        return out;
    }
    static double rms(const QVector<qint16> &x, int from, int to)
    {
        double sum = 0;
        for (int i = from; i < to; ++i)
            sum += double(x[i]) * x[i];
        return std::sqrt(sum / (to - from)) / (0.5 * 32768 / std::sqrt(2.0));
    }

    JitterBuffer buffer;
};

void TstJitterBuffer::order_data()
{
    // Numbers push that packet (its number modulo 65536), "p" plays 20 ms;
    // heard are the packets' numbers modulo 1000, "-" a concealed slot.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("heard");
    QTest::addColumn<QList<int>>("lostLateDuplicated");
    QTest::newRow("reordered across the wrap") << "65534 p 65536 65535 p p 65537 p" << "534 535 536 537" << QList<int>{0, 0, 0};
    QTest::newRow("duplicates, also after playing") << "10 11 11 p p 11 12 p" << "10 11 12" << QList<int>{0, 0, 2};
    QTest::newRow("lost") << "10 p 12 p p" << "10 - 12" << QList<int>{1, 0, 0};
    QTest::newRow("too late: its turn passed") << "10 p 12 p p 11 13 p" << "10 - 12 13" << QList<int>{0, 1, 0};
    QTest::newRow("nothing else here: waited for") << "10 p p 11 p" << "10 - 11" << QList<int>{0, 0, 0};
}

void TstJitterBuffer::order()
{
    QFETCH(QString, script);
    QFETCH(QString, heard);
    QFETCH(QList<int>, lostLateDuplicated);
    buffer.reset();
    QStringList played;
    double now = 0;
    int pushed = 0;
    for (const QString &step : script.split(' ')) {
        if (step != "p") {
            // the sample value names the packet
            const QVector<qint16> s(160, qint16(1000 + step.toInt() % 1000 * 7));
            buffer.push(quint16(step.toInt()), quint32(160 * step.toInt()), 7, s.constData(), 160, now);
            ++pushed;
            continue;
        }
        const qint16 last = pull(160).last();
        now += 20;
        played << ((last - 1000) % 7 == 0 && last >= 1000 ? QString::number((last - 1000) / 7) : QStringLiteral("-"));
    }
    QCOMPARE(played.join(' '), heard);
    const JitterBuffer::Figures f = buffer.figures();
    QCOMPARE((QList<int>{int(f.lost), int(f.late), int(f.duplicated)}), lostLateDuplicated);
    QCOMPARE(int(f.received), pushed);
}

void TstJitterBuffer::adaptation()
{
    // Packets 20 ms apart, delayed 0-60 ms at random for 10 s, then on time
    // for 10 s; the speaker takes 20 ms every 20 ms.
    buffer.reset();
    QRandomGenerator random(20);
    int sent = 0, late = 0;
    int calmBuffered = 0;
    QMap<double, int> arrivals;
    for (int tick = 0; tick < 1000; ++tick) {
        const double t = 20.0 * tick;
        if (tick < 500)
            arrivals.insert(t + random.bounded(60.0), sent);
        else
            arrivals.insert(t + 0.5, sent);
        ++sent;
        while (!arrivals.isEmpty() && arrivals.firstKey() <= t + 10) {
            push(quint16(arrivals.first()), arrivals.first(), arrivals.firstKey());
            arrivals.erase(arrivals.begin());
        }
        pull(160);
        if (tick == 499) {
            late = int(buffer.figures().late);
            QVERIFY2(buffer.targetMs() >= 70, qPrintable(QString::number(buffer.targetMs())));
        }
        calmBuffered = buffer.bufferedSamples();
    }
    QVERIFY2(late <= 10, qPrintable(QString("%1 of 500 packets came too late under jitter").arg(late)));
    QCOMPARE(buffer.targetMs(), JitterBuffer::minTargetMs);
    // the delay came down again: no more than the target waits
    QVERIFY2(calmBuffered <= JitterBuffer::minTargetMs * 8, qPrintable(QString::number(calmBuffered)));
}

void TstJitterBuffer::concealment()
{
    // 1025 Hz does not fit a 20 ms frame: repeating a frame would jump the phase.
    buffer.reset();
    QVector<qint16> heard;
    for (int seq = 1; seq <= 16; ++seq) {
        if (seq < 6 || seq > 9) // 6 to 9 lost: 80 ms
            push(quint16(seq), seq, 20.0 * seq);
        heard += pull(160);
    }
    // 20 ms each: 6 dB down per repeat, silence after 60 ms
    const double expected[] = {0.5, 0.25, 0.125, 0.0};
    for (int slot = 0; slot < 4; ++slot) {
        const double level = rms(heard, 160 * (5 + slot) + 40, 160 * (6 + slot));
        QVERIFY2(std::fabs(level - expected[slot]) < 0.03, qPrintable(QString("slot %1: %2").arg(slot).arg(level)));
    }
    // the sound after the gap fades in
    QVERIFY(rms(heard, 160 * 9, 160 * 9 + 10) < 0.2);
    QVERIFY(rms(heard, 160 * 10, 160 * 11) > 0.97);
    // no step anywhere larger than the sine's own slope
    int worst = 0;
    for (int i = 1; i < heard.size(); ++i)
        worst = qMax(worst, qAbs(heard[i] - heard[i - 1]));
    QVERIFY2(worst <= 0.5 * 32768 * 2 * M_PI * 1025 / 8000 * 1.05, qPrintable(QString::number(worst)));
}

QTEST_APPLESS_MAIN(TstJitterBuffer)
#include "tst_jitterbuffer.moc"
