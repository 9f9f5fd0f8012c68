// G.711: exact code words at the edges, u-law through the published tables,
// and every encoder and frame form agreeing with G.711's reference search.

#include "codec.h"

#include <QtTest>

#include <numeric>

class TstCodec : public QObject
{
    Q_OBJECT

private slots:
    void fastFormsMatchReference();
};

void TstCodec::fastFormsMatchReference()
{
    // Anchors: silence, ints beyond 16 bits saturating, the loudest code word,
    // and entries where the published tables differ from a decode/re-encode rule.
    QCOMPARE(int(linear2alaw(0)), 0xD5);
    QCOMPARE(int(linear2alaw(std::numeric_limits<int>::max())), 0xAA);
    QCOMPARE(alaw2linear(0x2A), -32256);
    QCOMPARE(int(ulaw_to_alaw_table[0xF1]), 0xD2);
    auto reference = [](int x) {
        int mask = 0xD5;
        if (x < 0) {
            mask = 0x55;
            x = ~x;
        }
        int seg = 0;
        while (seg < 8 && x > seg_end[seg])
            ++seg;
        return seg >= 8 ? 0x7F ^ mask : ((seg << 4) | ((x >> (seg < 2 ? 4 : seg + 3)) & 0x0F)) ^ mask;
    };
    static unsigned char pcm[2 * 65536], a[65536], u[65536], back[2 * 512];
    for (int i = 0; i < 65536; ++i) {
        pcm[2 * i] = uchar(i);
        pcm[2 * i + 1] = uchar(i >> 8);
    }
    alawEncodeFrame(pcm, a, 65536);
    ulawEncodeFrame(pcm, u, 65536);
    for (int x = -70000; x <= 70000; ++x) {
        const int i = quint16(x);
        if (int(linear2alaw(x)) != reference(x) || (x == qint16(x) && (a[i] != reference(x) || u[i] != alaw_to_ulaw(a[i]))))
            QFAIL(qPrintable(QStringLiteral("encoders disagree with the reference at %1").arg(x)));
    }
    unsigned char codes[256];
    std::iota(codes, codes + 256, 0);
    alawDecodeFrame(codes, back, 256);
    ulawDecodeFrame(codes, back + 512, 256);
    for (int c = 0; c < 512; ++c) {
        QCOMPARE(int(linear2alaw(alaw2linear(uchar(c)))), c % 256);
        QCOMPARE(int(qint16(back[2 * c] | back[2 * c + 1] << 8)), alaw2linear(c < 256 ? uchar(c) : ulaw_to_alaw(uchar(c))));
    }
}

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
