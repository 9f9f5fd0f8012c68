// G.711: the encoder and decoder give the exact code words and samples at the
// edges, u-law goes through the published tables, and the frame forms used on
// the RTP path agree with the per-sample functions for every 16-bit input.

#include "codec.h"

#include <QtTest>

class TstCodec : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
    void ulawThroughTables();
    void roundTrips();
    void encoderMatchesSegmentSearch();
    void framesMatchSamples();
};

void TstCodec::encode_data()
{
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("code");
    QTest::newRow("zero") << 0 << 0xD5;
    QTest::newRow("1") << 1 << 0xD5;
    QTest::newRow("15") << 15 << 0xD5;
    QTest::newRow("16") << 16 << 0xD4;
    QTest::newRow("-1") << -1 << 0x55;
    QTest::newRow("-16 (one's complement, not negation)") << -16 << 0x55;
    QTest::newRow("-17") << -17 << 0x54;
    QTest::newRow("255, top of segment 0") << 255 << 0xDA;
    QTest::newRow("256, segment 1") << 256 << 0xC5;
    QTest::newRow("-256") << -256 << 0x5A;
    QTest::newRow("1000") << 1000 << 0xFA;
    QTest::newRow("-1000") << -1000 << 0x7A;
    QTest::newRow("32767") << 32767 << 0xAA;
    QTest::newRow("-32768") << -32768 << 0x2A;
    QTest::newRow("32768, beyond 16 bits") << 32768 << 0xAA;
    QTest::newRow("40000") << 40000 << 0xAA;
    QTest::newRow("-40000") << -40000 << 0x2A;
    QTest::newRow("INT_MAX") << std::numeric_limits<int>::max() << 0xAA;
    QTest::newRow("INT_MIN") << std::numeric_limits<int>::min() << 0x2A;
}

void TstCodec::encode()
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
    QTest::newRow("55") << 0x55 << -8;
    QTest::newRow("AA") << 0xAA << 32256;
    QTest::newRow("2A") << 0x2A << -32256;
    QTest::newRow("80") << 0x80 << 5504;
    QTest::newRow("00") << 0x00 << -5504;
    QTest::newRow("FF") << 0xFF << 848;
    QTest::newRow("7F") << 0x7F << -848;
}

void TstCodec::decode()
{
    QFETCH(int, code);
    QFETCH(int, sample);
    QCOMPARE(alaw2linear(static_cast<unsigned char>(code)), sample);
}

void TstCodec::ulawThroughTables()
{
    QCOMPARE(int(alaw_to_ulaw(linear2alaw(0))), 0xFE);
    QCOMPARE(int(alaw_to_ulaw(linear2alaw(32767))), 0x80);
    QCOMPARE(int(alaw_to_ulaw(linear2alaw(-32768))), 0x00);
    QCOMPARE(alaw2linear(ulaw_to_alaw(0xFF)), 8);
    QCOMPARE(alaw2linear(ulaw_to_alaw(0x7F)), -8);
    // Entries where the published tables differ from a decode/re-encode rule,
    // and the sign bit passing through.
    QCOMPARE(int(alaw_to_ulaw_table[0x4A]), 0x5C);
    QCOMPARE(int(ulaw_to_alaw_table[0x2F]), 0x1A);
    QCOMPARE(int(ulaw_to_alaw_table[0x71]), 0x52);
    QCOMPARE(int(ulaw_to_alaw_table[0xF1]), 0xD2);
}

void TstCodec::roundTrips()
{
    int ulawSame = 0, alawSame = 0;
    for (int c = 0; c < 256; ++c) {
        const auto code = static_cast<unsigned char>(c);
        ulawSame += alaw_to_ulaw(ulaw_to_alaw(code)) == code;
        alawSame += ulaw_to_alaw(alaw_to_ulaw(code)) == code;
    }
    QCOMPARE(ulawSame, 240);
    QCOMPARE(alawSame, 240);
}

void TstCodec::encoderMatchesSegmentSearch()
{
    // The encoder finds the segment by bit length; the reference searches
    // seg_end as G.711's C code does. They must agree everywhere.
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
        const int q = seg < 2 ? (x >> 4) & 0x0F : (x >> (seg + 3)) & 0x0F;
        return ((seg << 4) | q) ^ mask;
    };
    for (int x = -70000; x <= 70000; ++x) {
        if (int(linear2alaw(x)) != reference(x))
            QFAIL(qPrintable(QStringLiteral("linear2alaw(%1) = %2, expected %3")
                                 .arg(x).arg(int(linear2alaw(x))).arg(reference(x))));
    }
    // Decoding the code of a decoded value gives that code back: the tables
    // and the encoder describe the same quantiser.
    for (int c = 0; c < 256; ++c)
        QCOMPARE(int(linear2alaw(alaw2linear(static_cast<unsigned char>(c)))), c);
}

void TstCodec::framesMatchSamples()
{
    // Every 16-bit sample through the send path's tables, every code word back.
    unsigned char pcm[2 * 65536], a[65536], u[65536];
    for (int i = 0; i < 65536; ++i) {
        pcm[2 * i] = uchar(i);
        pcm[2 * i + 1] = uchar(i >> 8);
    }
    alawEncodeFrame(pcm, a, 65536);
    ulawEncodeFrame(pcm, u, 65536);
    for (int i = 0; i < 65536; ++i) {
        const unsigned char code = linear2alaw(qint16(i));
        if (a[i] != code || u[i] != alaw_to_ulaw(code))
            QFAIL(qPrintable(QString("frame encoders disagree at sample %1").arg(qint16(i))));
    }
    for (int c = 0; c < 256; ++c) {
        unsigned char one[2];
        const unsigned char code = uchar(c);
        alawDecodeFrame(&code, one, 1);
        QCOMPARE(int(qint16(one[0] | one[1] << 8)), alaw2linear(code));
        ulawDecodeFrame(&code, one, 1);
        QCOMPARE(int(qint16(one[0] | one[1] << 8)), alaw2linear(ulaw_to_alaw(code)));
    }
}

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
