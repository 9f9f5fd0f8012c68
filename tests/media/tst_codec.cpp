// G.711: exact code words and samples at the edges, u-law through the published
// tables, and the fast encoders and frame forms agreeing with the reference everywhere.

#include "codec.h"

#include <QtTest>

class TstCodec : public QObject
{
    Q_OBJECT

private slots:
    void edgeValues_data();
    void edgeValues();
    void decode_data();
    void decode();
    void ulawThroughTables();
    void fastFormsMatchReference();
};

void TstCodec::edgeValues_data()
{
    // Anchors for the exhaustive check below, and inputs beyond its range.
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("code");
    QTest::newRow("zero") << 0 << 0xD5;
    QTest::newRow("-16 (one's complement, not negation)") << -16 << 0x55;
    QTest::newRow("-17") << -17 << 0x54;
    QTest::newRow("256, segment 1") << 256 << 0xC5;
    QTest::newRow("32767") << 32767 << 0xAA;
    QTest::newRow("-32768") << -32768 << 0x2A;
    QTest::newRow("INT_MAX") << std::numeric_limits<int>::max() << 0xAA;
    QTest::newRow("INT_MIN") << std::numeric_limits<int>::min() << 0x2A;
}

void TstCodec::edgeValues()
{
    QFETCH(int, sample);
    QFETCH(int, code);
    QCOMPARE(int(linear2alaw(sample)), code);
}

void TstCodec::decode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("sample");
    QTest::newRow("D5") << 0xD5 << 8;
    QTest::newRow("AA") << 0xAA << 32256;
    QTest::newRow("80") << 0x80 << 5504;
    QTest::newRow("FF") << 0xFF << 848;
}

void TstCodec::decode()
{
    QFETCH(int, code);
    QFETCH(int, sample);
    QCOMPARE(alaw2linear(uchar(code)), sample);
    QCOMPARE(alaw2linear(uchar(code ^ 0x80)), -sample); // the sign bit alone flips the sample
}

void TstCodec::ulawThroughTables()
{
    QCOMPARE(int(alaw_to_ulaw(linear2alaw(0))), 0xFE);
    QCOMPARE(int(alaw_to_ulaw(linear2alaw(32767))), 0x80);
    QCOMPARE(int(alaw_to_ulaw(linear2alaw(-32768))), 0x00);
    QCOMPARE(alaw2linear(ulaw_to_alaw(0x7F)), -8);
    // Entries where the published tables differ from a decode/re-encode rule,
    // and the sign bit passing through.
    QCOMPARE(int(alaw_to_ulaw_table[0x4A]), 0x5C);
    QCOMPARE(int(ulaw_to_alaw_table[0x2F]), 0x1A);
    QCOMPARE(int(ulaw_to_alaw_table[0x71]), 0x52);
    QCOMPARE(int(ulaw_to_alaw_table[0xF1]), 0xD2);
    // 240 of the 256 codes survive the trip through the other law and back, either way
    int ulawSame = 0, alawSame = 0;
    for (int c = 0; c < 256; ++c) {
        ulawSame += alaw_to_ulaw(ulaw_to_alaw(uchar(c))) == c;
        alawSame += ulaw_to_alaw(alaw_to_ulaw(uchar(c))) == c;
    }
    QCOMPARE(ulawSame, 240);
    QCOMPARE(alawSame, 240);
}

void TstCodec::fastFormsMatchReference()
{
    // The encoder finds the segment by bit length; the reference searches
    // seg_end as G.711's C code does. They must agree everywhere, and so must
    // the frame encoders of the send path for every 16-bit sample.
    auto reference = [](int x) {
        int mask = 0xD5;
        if (x < 0) {
            mask = 0x55;
            x = ~x;
        }
        int seg = 0;
        while (seg < 8 && x > seg_end[seg])
            ++seg;
        if (seg >= 8)
            return 0x7F ^ mask;
        return ((seg << 4) | ((x >> (seg < 2 ? 4 : seg + 3)) & 0x0F)) ^ mask;
    };
    static unsigned char pcm[2 * 65536], a[65536], u[65536];
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
    // Decoding a code word and encoding it again gives it back; the frame decoders agree.
    for (int c = 0; c < 256; ++c) {
        const unsigned char code = uchar(c);
        QCOMPARE(int(linear2alaw(alaw2linear(code))), c);
        unsigned char one[2];
        alawDecodeFrame(&code, one, 1);
        QCOMPARE(int(qint16(one[0] | one[1] << 8)), alaw2linear(code));
        ulawDecodeFrame(&code, one, 1);
        QCOMPARE(int(qint16(one[0] | one[1] << 8)), alaw2linear(ulaw_to_alaw(code)));
    }
}

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
