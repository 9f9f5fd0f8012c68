// The voice codecs: each carries a tone at its rate (G.722 and Opus a 6 kHz one),
// G.711 gives the RTP path's bytes, Opus covers a lost frame by its own concealment
// or the next packet's FEC; and the codec a call uses by RFC 3264, both directions.

#include "audiocodec.h"
#include "codec.h"
#include "codecchoice.h"
#include "fixturetable.h"
#include "tone.h"

#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// "PT NAME/CLOCK[/CHANNELS] [fmtp]", or "PT" alone for a format without a=rtpmap.
SdpFormat format(const QString &text)
{
    SdpFormat f;
    const QStringList w = text.split(QLatin1Char(' '));
    f.payloadType = w.value(0).toInt();
    const QStringList map = w.value(1).split(QLatin1Char('/'));
    f.encoding = map.value(0);
    f.clockRate = map.value(1, QStringLiteral("8000")).toInt();
    f.channels = map.value(2, QStringLiteral("1")).toInt();
    f.fmtp = w.mid(2).join(QLatin1Char(' '));
    return f;
}

SdpFormats formats(const QString &list)
{
    SdpFormats out;
    for (const QString &t : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
        out << format(t.trimmed());
    return out;
}

QByteArray bytes(const QVector<qint16> &samples)
{
    return QByteArray(reinterpret_cast<const char *>(samples.constData()), 2 * samples.size());
}

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

class TstAudioCodec : public QObject
{
    Q_OBJECT

private slots:
    void toneRoundTrip_data() { fixtureRows("media/codec-tones.txt"); }
    void toneRoundTrip();
    void g711IsTheRtpPathsBytes();
    void opusCoversALostFrame_data() { fixtureRows("media/opus-loss.txt"); }
    void opusCoversALostFrame();
    void choice_data() { fixtureRows("media/codec-choice.txt"); }
    void choice();
};

void TstAudioCodec::toneRoundTrip()
{
    QFETCH(QString, sdp);
    QFETCH(QString, values); // rate clock payloadBytes (-1: variable) frequency snrFloorDb
    const QStringList v = values.split(' ');
    const int rate = v[0].toInt(), clock = v[1].toInt(), payloadBytes = v[2].toInt();
    const double frequency = v[3].toDouble(), snrFloorDb = v[4].toDouble();
    std::unique_ptr<AudioCodec> codec = AudioCodec::create(format(sdp));
    QVERIFY(codec);
    QCOMPARE(codec->sampleRate(), rate);
    QCOMPARE(codec->frameTicks(), clock / 50);
    QByteArray heard;
    for (const QByteArray &p : encodeTone(*codec, 50, frequency)) {
        if (payloadBytes >= 0)
            QCOMPARE(p.size(), payloadBytes);
        const QVector<qint16> out = codec->decode(p);
        QCOMPARE(out.size(), codec->frameSamples());
        heard += bytes(out);
    }
    // The last half second, past any start-up: the tone against everything else.
    const QByteArray tail = heard.right(rate);
    const double tone = Tone::level(tail, frequency, rate) / std::sqrt(2.0), all = Tone::rms(tail);
    const double snr = 10 * std::log10(tone * tone / std::max(1e-12, all * all - tone * tone));
    QVERIFY2(tone > 0.3 / std::sqrt(2.0) / 2 && snr > snrFloorDb, qPrintable(QStringLiteral("tone %1, SNR %2 dB").arg(tone).arg(snr)));
    QVERIFY(!AudioCodec::create(format("101 telephone-event/8000")));
}

// Each payload type is its own law in the frame conversions, byte order included: a frame across the range of
// samples and all 256 code words (the conversions themselves, entry by entry: tst_codec).
void TstAudioCodec::g711IsTheRtpPathsBytes()
{
    for (auto law : { QStringLiteral("8"), QStringLiteral("0") }) {
        std::unique_ptr<AudioCodec> codec = AudioCodec::create(format(law));
        qint16 in[160];
        QByteArray codes(256, 0);
        for (int i = 0; i < 256; ++i)
            in[i % 160] = qint16(i % 160 * 409 - 32768), codes[i] = char(i);
        const QByteArray out = codec->encode(in);
        const QVector<qint16> back = codec->decode(codes);
        for (int i = 0; i < 256; ++i) {
            const uchar a = linear2alaw(in[i % 160]), c = uchar(i);
            QVERIFY2((i >= 160 || uchar(out[i]) == (law == "8" ? a : alaw_to_ulaw(a)))
                         && back[i] == alaw2linear(law == "8" ? c : ulaw_to_alaw(c)),
                     qPrintable(QStringLiteral("law %1 differs at %2").arg(law).arg(i)));
        }
    }
}

void TstAudioCodec::opusCoversALostFrame()
{
    QFETCH(QString, farEnd);
    QFETCH(QString, next);
    QFETCH(QString, tone);
    const bool nextArrived = next == "arrived";
    const double heard = tone.toDouble();
    // The sender codes FEC when its far end (here the receiver) asks for it.
    std::unique_ptr<AudioCodec> sender = AudioCodec::create(format(farEnd));
    std::unique_ptr<AudioCodec> receiver = AudioCodec::create(format("96 opus/48000/2"));
    const QList<QByteArray> packets = encodeTone(*sender, 40, 440, 1200, 30);
    for (int i = 0; i < 30; ++i)
        receiver->decode(packets[i]);
    QVERIFY(receiver->hasConcealment());
    const QByteArray lost = bytes(receiver->conceal(nextArrived ? packets[31] : QByteArray()));
    QCOMPARE(lost.size(), 2 * 320);
    const double other = heard == 440.0 ? 1200.0 : 440.0;
    QVERIFY2(Tone::level(lost, heard, 16000) > 0.05 && Tone::level(lost, heard, 16000) > 2 * Tone::level(lost, other, 16000),
             qPrintable(QStringLiteral("%1 Hz: %2, %3 Hz: %4").arg(heard).arg(Tone::level(lost, heard, 16000))
                            .arg(other).arg(Tone::level(lost, other, 16000))));
}

void TstAudioCodec::choice()
{
    QFETCH(QString, answering);
    QFETCH(QString, ours);
    QFETCH(QString, theirs);
    QFETCH(QString, chosen);
    const std::optional<SdpFormat> c = answering == "yes" ? answerCodec(formats(ours), formats(theirs))
                                                 : answeredCodec(formats(ours), formats(theirs));
    QCOMPARE(c ? QStringLiteral("%1 %2").arg(c->payloadType).arg(c->encoding) : QString(), chosen);
}

QTEST_APPLESS_MAIN(TstAudioCodec)
#include "tst_audiocodec.moc"
