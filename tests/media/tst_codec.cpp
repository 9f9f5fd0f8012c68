// G.711 against its own definitions, entry by entry: all 256 A-law and u-law code words decoded, both
// code-conversion tables, and every 16-bit sample (each segment and step boundary) encoded to A-law and u-law.

#include "codec.h"

#include <QtEndian>
#include <QtTest>

#include <limits>
#include <numeric>

namespace {
// Decoded magnitudes on the 16-bit scale. A-law: segment 0 and 1 have steps of 16 from 0 and from 256, segment
// s >= 2 starts at 128 << s with steps of 8 << s; a code word decodes to the middle of its step, bit 7 set is
// positive, and the even bits are inverted. u-law: the bits are inverted, and magnitudes are
// ((2q + 33) << s) - 33 in 14-bit units.
int alawStep(int s) { return s ? 8 << s : 16; }
int alawStart(int s) { return s ? 128 << s : 0; }
int alawValue(int code)
{
    const int a = code ^ 0x55, s = (a >> 4) & 7, v = alawStart(s) + alawStep(s) * (a & 15) + alawStep(s) / 2;
    return a & 0x80 ? v : -v;
}
int ulawValue(int code)
{
    const int u = ~code & 0xFF, v = 4 * (((2 * (u & 15) + 33) << ((u >> 4) & 7)) - 33);
    return u & 0x80 ? -v : v;
}

// The conversion tables give each code word the nearest one of the other law, the sign kept, once the overload
// points are made equal (u-law's 8159 is A-law's 8192). The published u-law to A-law table rounds two steps up
// that lie within a third of a unit below a midpoint.
int nearest(int code, int (*from)(int), int fromScale, int (*to)(int), int toScale)
{
    const qint64 x = qint64(from(code)) * fromScale;
    int best = code & 0x80;
    for (int c = best; c < (code & 0x80) + 128; ++c)
        best = qAbs(qint64(to(c)) * toScale - x) < qAbs(qint64(to(best)) * toScale - x) ? c : best;
    return best;
}
int alawToUlaw(int code) { return nearest(code, alawValue, 8159, ulawValue, 8192); }
int ulawToAlaw(int code)
{
    const int low = code & 0x7F;
    return low == 0x4E || low == 0x4F ? (code & 0x80) | (low == 0x4E ? 0x7A : 0x78)
                                      : nearest(code, ulawValue, 8192, alawValue, 8159);
}
} // namespace

class TstCodec : public QObject
{
    Q_OBJECT

private slots:
    void everyEntry()
    {
        // Each code word through the tables, the per-sample decoder and the frame decoders.
        unsigned char codes[256], decoded[2 * 512];
        std::iota(codes, codes + 256, 0);
        alawDecodeFrame(codes, decoded, 256);
        ulawDecodeFrame(codes, decoded + 512, 256);
        auto value = [&](int i) { return int(qint16(decoded[2 * i] | decoded[2 * i + 1] << 8)); };
        // Per code word: A-law to u-law, u-law to A-law, A-law decoded alone and in a frame, u-law decoded in a frame.
        for (int c = 0; c < 256; ++c)
            QCOMPARE(QString("%1 %2 %3 %4 %5").arg(alaw_to_ulaw_table[c]).arg(ulaw_to_alaw_table[c]).arg(alaw2linear(uchar(c))).arg(value(c)).arg(value(256 + c)),
                     QString("%1 %2 %3 %3 %4").arg(alawToUlaw(c)).arg(ulawToAlaw(c)).arg(alawValue(c)).arg(alawValue(ulawToAlaw(c))));

        // A sample is coded by the step that holds it; a negative one by its one's complement (-x - 1), and an
        // int beyond 16 bits as full scale. Every 16-bit sample as little-endian bytes, as captured.
        const auto alaw = [](int x) { int s = 7; while (s && x < alawStart(s)) --s; return 0xD5 ^ (s << 4 | (x - alawStart(s)) / alawStep(s)); };
        static quint16 samples[65536];
        static unsigned char pcm[2 * 65536], a[65536], u[65536];
        std::iota(samples, samples + 65536, 0);
        qToLittleEndian<quint16>(samples, 65536, pcm);
        alawEncodeFrame(pcm, a, 65536);
        ulawEncodeFrame(pcm, u, 65536);
        for (int x : {32768, 40000, std::numeric_limits<int>::max(), -32769, std::numeric_limits<int>::min()})
            QCOMPARE(int(linear2alaw(x)), x > 0 ? 0xAA : 0x2A);
        for (int x = -32768; x < 32768; ++x) {
            const int expected = x < 0 ? alaw(~x) ^ 0x80 : alaw(x), i = quint16(x);
            if (linear2alaw(x) != expected || a[i] != expected || u[i] != alawToUlaw(expected))
                QFAIL(qPrintable(QStringLiteral("sample %1 coded %2, A-law frame %3, u-law frame %4")
                                     .arg(x).arg(linear2alaw(x)).arg(a[i]).arg(u[i])));
        }
    }
};

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
