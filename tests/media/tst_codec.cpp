// The voice codecs. G.711 against its own definitions, entry by entry: all 256 A-law and u-law code words
// decoded, both code-conversion tables, and every 16-bit sample (each segment and step boundary) encoded to A-law
// and u-law. Each codec carries a tone at its rate (G.722 and Opus a 6 kHz one), Opus covers a lost frame by its
// own concealment or the next packet's FEC, and hears of every frame once through the jitter buffer; the codec a
// call we offered uses by RFC 3264.

#include "audiocodec.h"
#include "codec.h"
#include "codecchoice.h"
#include "fixturetable.h"
#include "jitterbuffer.h"
#include "opuscodec.h"
#include "sdpsession.h"
#include "tone.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
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

// The formats of an audio stream described as "PT NAME/CLOCK[/CHANNELS] [fmtp]" each, "PT" alone without a=rtpmap.
SdpFormats formats(const QString &list)
{
    QString m = "m=audio 4000 RTP/AVP", a;
    for (const QString &f : list.split(',', Qt::SkipEmptyParts)) {
        const QStringList w = f.trimmed().split(' ');
        m += ' ' + w[0];
        a += (w.size() > 1 ? "a=rtpmap:" + w[0] + ' ' + w[1] + "\r\n" : "") + (w.size() > 2 ? "a=fmtp:" + w[0] + ' ' + w.mid(2).join(' ') + "\r\n" : "");
    }
    return SdpSession::fromText("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n" + m + "\r\n" + a).formats;
}
SdpFormat format(const QString &text) { return formats(text).value(0); }

QByteArray bytes(const QVector<qint16> &samples) { return QByteArray(reinterpret_cast<const char *>(samples.constData()), 2 * samples.size()); }

// Frames of a tone through a codec; `frequency` changes to `then` at frame `switchAt`.
QList<QByteArray> encodeTone(AudioCodec &codec, int frames, double frequency, double then = 0, int switchAt = -1)
{
    QList<QByteArray> packets;
    const int n = codec.frameSamples();
    for (int i = 0; i < frames; ++i) {
        const double f = switchAt >= 0 && i >= switchAt ? then : frequency;
        packets << codec.encode(reinterpret_cast<const qint16 *>(Tone::sine(f, 0.3, n, codec.sampleRate(), qint64(n) * i).constData()));
    }
    return packets;
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

    void toneRoundTrip_data() { fixtureRows("media/codec-tones.txt"); }
    void toneRoundTrip()
    {
        const QStringList v = cell("values").split(' '); // rate clock payloadBytes (-1: variable) frequency snrFloorDb
        const int rate = v[0].toInt(), clock = v[1].toInt(), payloadBytes = v[2].toInt();
        const double frequency = v[3].toDouble(), snrFloorDb = v[4].toDouble();
        std::unique_ptr<AudioCodec> codec = AudioCodec::create(format(cell("sdp")));
        QVERIFY(codec && codec->sampleRate() == rate && codec->frameTicks() == clock / 50);
        QByteArray heard;
        for (const QByteArray &p : encodeTone(*codec, 50, frequency)) {
            const QVector<qint16> out = codec->decode(p);
            QVERIFY2((payloadBytes < 0 || p.size() == payloadBytes) && out.size() == codec->frameSamples(), qPrintable(QString::number(p.size())));
            heard += bytes(out);
        }
        // The last half second, past any start-up: the tone against everything else.
        const QByteArray tail = heard.right(rate);
        const double tone = Tone::level(tail, frequency, rate) / std::sqrt(2.0), all = Tone::rms(tail);
        const double snr = 10 * std::log10(tone * tone / std::max(1e-12, all * all - tone * tone));
        QVERIFY2(tone > 0.3 / std::sqrt(2.0) / 2 && snr > snrFloorDb, qPrintable(QStringLiteral("tone %1, SNR %2 dB").arg(tone).arg(snr)));
    }

    void opusCoversALostFrame_data() { fixtureRows("media/opus-loss.txt"); }
    void opusCoversALostFrame()
    {
        QFETCH(QString, tone);
        // The sender codes FEC when its far end (here the receiver) asks for it.
        std::unique_ptr<AudioCodec> sender = AudioCodec::create(format(cell("farEnd")));
        std::unique_ptr<AudioCodec> receiver = AudioCodec::create(format("96 opus/48000/2"));
        const QList<QByteArray> packets = encodeTone(*sender, 40, 440, 1200, 30);
        for (int i = 0; i < 30; ++i)
            receiver->decode(packets[i]);
        QVERIFY(receiver->hasConcealment());
        const QByteArray lost = bytes(receiver->conceal(cell("next") == "arrived" ? packets[31] : QByteArray()));
        QCOMPARE(lost.size(), 2 * 320);
        // The tone named against the other one (440 + 1200 = 1640).
        const double heard = Tone::level(lost, tone.toDouble(), 16000), other = Tone::level(lost, 1640 - tone.toDouble(), 16000);
        QVERIFY2(heard > 0.05 && heard > 2 * other, qPrintable(QStringLiteral("%1 Hz at %2, the other at %3").arg(tone).arg(heard).arg(other)));
    }

    // The codec of a call we offered: the answer's first format we offered, at the answer's payload type.
    void choice_data() { fixtureRows("media/codec-choice.txt"); }
    void choice()
    {
        const std::optional<SdpFormat> c = answeredCodec(formats(cell("ours")), formats(cell("theirs")));
        QTEST(c ? QStringLiteral("%1 %2").arg(c->payloadType).arg(c->encoding) : QString(), "chosen");
    }

    // Each Opus frame reaches the decoder once through the jitter buffer: decoded if it came, concealed if lost.
    void opusHearsOfEveryFrame_data()
    {
        QTest::addColumn<int>("lost"); // from the 25th on; none: the speaker stalls 280 ms; -1: the 25th after the 26th
        QTest::newRow("given up after a wait") << 1;
        QTest::newRow("skipped while refilling") << 5;
        QTest::newRow("stall") << 0;
        QTest::newRow("late, rebuilt") << -1;
    }
    void opusHearsOfEveryFrame()
    {
        QFETCH(int, lost);
        struct Counting : OpusCodec
        {
            using OpusCodec::OpusCodec;
            int n = 0, c = 0;   // frames heard, of them concealed
            QVector<qint16> decode(const QByteArray &p) override
            {
                ++n;
                return OpusCodec::decode(p);
            }
            QVector<qint16> conceal(const QByteArray &p) override
            {
                ++n, ++c;
                return OpusCodec::conceal(p);
            }
        } receiver(format("96 opus/48000/2"));
        const QList<QByteArray> packets = encodeTone(*AudioCodec::create(format("96 opus/48000/2 useinbandfec=1")), 50, 1025);
        JitterBuffer buffer;
        buffer.setFormat(16000, 48000, &receiver);
        qint16 out[160];
        const auto push = [&](int i) { buffer.pushPayload(quint16(i), quint32(960 * i), 1, packets[i], 20.0 * i); };
        for (int i = 0; i < 64; ++i) {
            if (i < 50 && (i < 25 || i >= 25 + lost))
                push(lost < 0 && i == 25 ? 26 : i);
            if (i >= 25 && i < 25 + (lost ? 0 : 14))
                continue;   // the speaker stalls
            buffer.pull(out, 160);
            if (lost < 0 && i == 25)
                push(25);   // after its frame was rebuilt
            buffer.pull(out, 160);
        }
        QVERIFY2(receiver.n == 50 && receiver.c == std::abs(lost), qPrintable(QStringLiteral("%1 heard, %2 concealed").arg(receiver.n).arg(receiver.c)));
    }
};

QTEST_APPLESS_MAIN(TstCodec)
#include "tst_codec.moc"
