// The voice codecs: each carries a tone at its rate (G.722 and Opus a 6 kHz one),
// G.711 gives the RTP path's bytes, Opus covers a lost frame by its own concealment
// or the next packet's FEC; and the codec a call uses by RFC 3264, both directions.

#include "audiocodec.h"
#include "codec.h"
#include "codecchoice.h"
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
    void toneRoundTrip_data();
    void toneRoundTrip();
    void g711IsTheRtpPathsBytes();
    void opusCoversALostFrame_data();
    void opusCoversALostFrame();
    void choice_data();
    void choice();
};

void TstAudioCodec::toneRoundTrip_data()
{
    QTest::addColumn<QString>("sdp");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("clock");
    QTest::addColumn<int>("payloadBytes");   // -1: variable
    QTest::addColumn<double>("frequency");
    QTest::addColumn<double>("snrFloorDb");
    QTest::newRow("PCMA 1 kHz") << "8 PCMA/8000" << 8000 << 8000 << 160 << 1000.0 << 30.0;
    QTest::newRow("PCMU by its static type") << "0" << 8000 << 8000 << 160 << 1000.0 << 30.0;
    QTest::newRow("G.722 1 kHz") << "9 G722/8000" << 16000 << 8000 << 160 << 1000.0 << 30.0;
    QTest::newRow("G.722 6 kHz") << "9 G722/8000" << 16000 << 8000 << 160 << 6000.0 << 20.0;
    QTest::newRow("Opus 1 kHz") << "96 opus/48000/2" << 16000 << 48000 << -1 << 1000.0 << 20.0;
    QTest::newRow("Opus 6 kHz") << "96 opus/48000/2" << 16000 << 48000 << -1 << 6000.0 << 15.0;
}

void TstAudioCodec::toneRoundTrip()
{
    QFETCH(QString, sdp);
    QFETCH(int, rate);
    QFETCH(int, clock);
    QFETCH(int, payloadBytes);
    QFETCH(double, frequency);
    QFETCH(double, snrFloorDb);
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

void TstAudioCodec::g711IsTheRtpPathsBytes()
{
    // Every 16-bit sample through both laws, and every code word back.
    for (auto law : { QStringLiteral("8"), QStringLiteral("0") }) {
        std::unique_ptr<AudioCodec> codec = AudioCodec::create(format(law));
        for (int frame = 0; frame < 65536 / 160 + 1; ++frame) {
            qint16 in[160];
            unsigned char codes[160];
            for (int i = 0; i < 160; ++i)
                in[i] = qint16(frame * 160 + i), codes[i] = uchar(frame * 160 + i);
            const QByteArray out = codec->encode(in);
            const QVector<qint16> back = codec->decode(QByteArray(reinterpret_cast<char *>(codes), 160));
            for (int i = 0; i < 160; ++i) {
                const unsigned char a = linear2alaw(in[i]);
                const unsigned char c = codes[i];
                if (uchar(out[i]) != (law == "8" ? a : alaw_to_ulaw(a))
                    || back[i] != alaw2linear(law == "8" ? c : ulaw_to_alaw(c)))
                    QFAIL(qPrintable(QStringLiteral("law %1 differs at %2").arg(law).arg(frame * 160 + i)));
            }
        }
    }
}

void TstAudioCodec::opusCoversALostFrame_data()
{
    // The tone changes from 440 to 1200 Hz in the frame that is lost.
    QTest::addColumn<QString>("farEnd");
    QTest::addColumn<bool>("nextArrived");
    QTest::addColumn<double>("heard");
    QTest::newRow("own concealment carries on") << "96 opus/48000/2" << false << 440.0;
    QTest::newRow("FEC in the next packet") << "96 opus/48000/2 useinbandfec=1" << true << 1200.0;
    QTest::newRow("next packet without FEC") << "96 opus/48000/2" << true << 440.0;
}

void TstAudioCodec::opusCoversALostFrame()
{
    QFETCH(QString, farEnd);
    QFETCH(bool, nextArrived);
    QFETCH(double, heard);
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

void TstAudioCodec::choice_data()
{
    QTest::addColumn<bool>("answering");      // else reading the answer to our offer
    QTest::addColumn<QString>("ours");        // enabled in order, or what we offered
    QTest::addColumn<QString>("theirs");      // their offer, or their answer
    QTest::addColumn<QString>("chosen");      // empty: none, 488
    QTest::newRow("only G.722 offered, G.722 off") << true << "8 PCMA/8000, 0 PCMU/8000" << "9 G722/8000" << "";
    QTest::newRow("our order, not theirs") << true << "9 G722/8000, 111 opus/48000/2, 8 PCMA/8000"
                                           << "0 PCMU/8000, 8 PCMA/8000, 96 opus/48000/2" << "96 opus";
    QTest::newRow("their payload type") << true << "111 opus/48000/2" << "120 OPUS/48000/2 useinbandfec=1" << "120 OPUS";
    QTest::newRow("static type without rtpmap") << true << "9 G722/8000, 8 PCMA/8000" << "0, 8" << "8 PCMA";
    QTest::newRow("touch tones are no codec") << true << "8 PCMA/8000" << "101 telephone-event/8000" << "";
    QTest::newRow("opus at another rate") << true << "111 opus/48000/2" << "96 opus/16000/1" << "";
    QTest::newRow("answer in its own order") << false << "9 G722/8000, 8 PCMA/8000" << "8 PCMA/8000, 9 G722/8000" << "8 PCMA";
    QTest::newRow("answer never offered") << false << "8 PCMA/8000" << "0 PCMU/8000" << "";
    QTest::newRow("unoffered first, offered next") << false << "8 PCMA/8000" << "18 G729/8000, 8" << "8 PCMA";
    QTest::newRow("offered number, other codec") << false << "111 opus/48000/2" << "111 G7221/16000" << "";
}

void TstAudioCodec::choice()
{
    QFETCH(bool, answering);
    QFETCH(QString, ours);
    QFETCH(QString, theirs);
    QFETCH(QString, chosen);
    const std::optional<SdpFormat> c = answering ? answerCodec(formats(ours), formats(theirs))
                                                 : answeredCodec(formats(ours), formats(theirs));
    QCOMPARE(c ? QStringLiteral("%1 %2").arg(c->payloadType).arg(c->encoding) : QString(), chosen);
}

QTEST_APPLESS_MAIN(TstAudioCodec)
#include "tst_audiocodec.moc"
