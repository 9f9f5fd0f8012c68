// Sound through the real Qt Multimedia devices of a PulseAudio daemon with null
// sinks: a tone played into the microphone leaves as 172-byte RTP in the peer's
// law at the right pitch and level, a tone sent by the peer comes out of the
// speaker, and the two volume controls act on those levels.

#include "audio.h"
#include "mainwindow.h"
#include "pulsestream.h"
#include "rtp.h"
#include "rtppeer.h"
#include "testmain.h"
#include "tone.h"
#include "udpsocket.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <cmath>

namespace {

constexpr double micTone = 1000.0;
constexpr double micAmplitude = 0.355;      // -9 dBFS
constexpr double peerTone = 440.0;
constexpr double peerAmplitude = 0.5;
constexpr int callSamples = 8000 * 8 / 5;   // 1.6 s
constexpr double loud = 0.02;               // block RMS that counts as sound

struct Call {
    QList<QByteArray> sent;     // what the phone sent to the peer
    QByteArray heard;           // what the speaker played, 8000 Hz
};

} // namespace

class TstTone : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void callThroughDevices_data();
    void callThroughDevices();
    void volumes();

private:
    Call runCall(int payloadType);
    void checkTone(const QByteArray &pcm, double frequency, double amplitude, int minBlocks);

    MainWindow *window = nullptr;
    Audio *audio = nullptr;
};

void TstTone::initTestCase()
{
    const QString why = PulseStream::unavailable();
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QStandardPaths::setTestModeEnabled(true);
    window = new MainWindow;
    audio = window->audio;
    QVERIFY(audio);
    window->mediaIp_ = QStringLiteral("127.0.0.1");
    window->mediaPort = 0;
    window->stunLocalPortM = 0;
}

Call TstTone::runCall(int payloadType)
{
    Call call;
    RtpPeer peer;
    if (!peer.start())
        return call;
    window->mediaPort_ = QString::number(peer.port());
    PulseStream speaker, mic;
    if (!speaker.record(QStringLiteral("spk.monitor")))
        return call;

    audio->audioStart();
    peer.stream(Tone::sine(peerTone, peerAmplitude, callSamples), payloadType,
                quint16(audio->rtp->udpSocket->localPort()));
    if (!mic.play(QStringLiteral("mic"), Tone::sine(micTone, micAmplitude, callSamples)))
        return call;
    QSignalSpy done(&peer, &RtpPeer::streamDone);
    done.wait(callSamples / 8 + 3000);
    // Let the last packets play out and the capture tail arrive.
    QSignalSpy more(&peer, &RtpPeer::received);
    const int target = peer.packets.size() + 15;
    while (peer.packets.size() < target && more.wait(2000)) {
    }
    audio->audioStop();
    call.sent = peer.packets;
    call.heard = speaker.take();
    speaker.stop();
    mic.stop();
    return call;
}

void TstTone::checkTone(const QByteArray &pcm, double frequency, double amplitude, int minBlocks)
{
    const QList<QByteArray> blocks = Tone::loudBlocks(pcm, loud);
    // Purity: the share of a block's amplitude that sits at `frequency`
    // (1.0 for a clean sine). The median shrugs off a block with a glitch.
    QVector<double> levels, purity;
    for (const QByteArray &b : blocks) {
        levels.append(Tone::level(b, frequency));
        purity.append(levels.last() / (std::sqrt(2.0) * Tone::rms(b)));
    }
    const QString what = QString("%1 loud blocks, median level %2 dBFS at %3 Hz")
                             .arg(blocks.size()).arg(Tone::dbfs(Tone::median(levels)), 0, 'f', 1).arg(frequency);
    QVERIFY2(blocks.size() >= minBlocks, qPrintable("too little sound: " + what));
    const double pure = Tone::median(purity);
    QVERIFY2(pure >= 0.9, qPrintable(QString("not a %1 Hz tone (purity %2, strongest %3 Hz); ")
                                         .arg(frequency).arg(pure, 0, 'f', 2)
                                         .arg(Tone::dominant(blocks.at(blocks.size() / 2))) + what));
    const double error = Tone::dbfs(Tone::median(levels)) - Tone::dbfs(amplitude);
    QVERIFY2(qAbs(error) <= 1.0, qPrintable(QString("level off by %1 dB; ").arg(error, 0, 'f', 1) + what));
}

void TstTone::callThroughDevices_data()
{
    QTest::addColumn<int>("payloadType");
    QTest::newRow("A-law") << 8;
    QTest::newRow("u-law") << 0;
}

void TstTone::callThroughDevices()
{
    QFETCH(int, payloadType);
    audio->setMicValue(1.0f);
    audio->setSpeakerValue(1.0f);
    const Call call = runCall(payloadType);

    QVERIFY2(call.sent.size() >= 50, qPrintable(QString("only %1 packets left the phone").arg(call.sent.size())));
    int inLaw = 0;
    for (const QByteArray &p : call.sent) {
        QCOMPARE(p.size(), 172);
        inLaw += (p[1] & 0x7F) == payloadType;
    }
    // Everything after the peer's first packet answers in the peer's law.
    QVERIFY2(inLaw >= call.sent.size() - 10, qPrintable(QString("%1 of %2 packets in the peer's law")
                                                            .arg(inLaw).arg(call.sent.size())));
    checkTone(RtpPeer::decode(call.sent, payloadType), micTone, micAmplitude, 8);
    checkTone(call.heard, peerTone, peerAmplitude, 8);
}

void TstTone::volumes()
{
    audio->setMicValue(0.5f);
    audio->setSpeakerValue(0.0f);
    const Call call = runCall(8);
    audio->setMicValue(0.8f);
    audio->setSpeakerValue(1.0f);
    checkTone(RtpPeer::decode(call.sent, 8), micTone, micAmplitude * 0.5, 8);
    const int heard = Tone::loudBlocks(call.heard, loud).size();
    QVERIFY2(heard == 0, qPrintable(QString("speaker at 0.0 still played %1 loud blocks").arg(heard)));
    QVERIFY2(call.heard.size() > 8000, "the speaker side recorded nothing at all");
}

SORVANTO_TEST_MAIN(TstTone)
#include "tst_tone.moc"
