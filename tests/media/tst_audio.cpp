// The capture and playback adapters without sound: capture blocks are framed
// into RTP as they add up; playback drains the receive buffer, never hands the
// device more than it asked for, covers a short gap and then plays silence.

#include "audio.h"
#include "audioinput.h"
#include "audiooutput.h"
#include "mainwindow.h"
#include "rtp.h"
#include "rtppeer.h"
#include "tone.h"
#include "udpsocket.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QUdpSocket>
#include <QtTest>

class TstAudio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void captureBlocks();
    void stoppedAdapters();
    void playbackDrains();
    void gapThenSilence();
    void repeatNeverExceedsRequest();
    void startStopSequences();

private:
    QByteArray read(int maxlen);

    MainWindow *window = nullptr;
    Audio *audio = nullptr;
    RtpPeer *peer = nullptr;
};

void TstAudio::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    window = new MainWindow;
    audio = window->audio ? window->audio : new Audio(window);
    peer = new RtpPeer(this);
    QVERIFY(peer->start());
    window->mediaIp_ = QStringLiteral("127.0.0.1");
    window->mediaPort_ = QString::number(peer->port());
    window->mediaPort = 0;
    window->stunLocalPortM = 0;
}

void TstAudio::init()
{
    audio->rtp->initSession();
    // The adapters' own state, without starting the platform devices.
    audio->audioInput->running = true;
    audio->audioOutput->running = true;
    audio->audioOutput->lastChunk.fill('\0');
    audio->audioOutput->lastLength = AudioOutput::startChunkBytes;
    audio->audioOutput->repeatedBytes = 0;
}

QByteArray TstAudio::read(int maxlen)
{
    QByteArray out(maxlen, char(0x5A));
    const qint64 n = audio->audioOutput->readData(out.data(), maxlen);
    if (n < 0 || n > maxlen)
        return QByteArray("bad length");
    // What lies beyond the returned length must be untouched or silence; the
    // device only ever takes the first n bytes.
    return out.left(int(n));
}

void TstAudio::captureBlocks()
{
    const QByteArray tone = Tone::sine(1000, 0.5, 200);
    const quint16 seq = audio->rtp->seqNumber;
    for (int i = 0; i < 3; ++i)
        QCOMPARE(audio->audioInput->writeData(tone.constData() + 100 * i, 100), qint64(100));
    QCOMPARE(audio->rtp->seqNumber, seq);
    QCOMPARE(audio->rtp->txPcm.size(), 300);
    QSignalSpy spy(peer, &RtpPeer::received);
    QCOMPARE(audio->audioInput->writeData(tone.constData() + 300, 100), qint64(100));
    QCOMPARE(audio->rtp->txPcm.size(), 80);
    QCOMPARE(audio->rtp->txPcm, tone.mid(320, 80));
    QVERIFY(spy.wait(3000));
    QCOMPARE(peer->packets.last().size(), 172);
    QCOMPARE(quint16(uchar(peer->packets.last()[2]) << 8 | uchar(peer->packets.last()[3])), quint16(seq + 1));
}

void TstAudio::stoppedAdapters()
{
    audio->audioInput->running = false;
    audio->audioOutput->running = false;
    QCOMPARE(audio->audioInput->writeData("abcd", 4), qint64(0));
    QVERIFY(audio->rtp->txPcm.isEmpty());
    audio->rtp->rxPcm = QByteArray(640, char(0x11));
    // A full request of silence, and the received samples stay for later.
    QCOMPARE(read(1000), QByteArray(1000, '\0'));
    QCOMPARE(audio->rtp->rxPcm.size(), 640);
    QCOMPARE(audio->audioOutput->readData(nullptr, 0), qint64(0));
    char buf[8];
    QCOMPARE(audio->audioInput->readData(buf, 8), qint64(0));
}

void TstAudio::playbackDrains()
{
    // Right after start, nothing received: the start chunk of silence.
    QCOMPARE(read(4096), QByteArray(960, '\0'));
    const QByteArray tone = Tone::sine(440, 0.5, 250);
    audio->rtp->rxPcm = tone;
    QCOMPARE(read(1600), tone);
    QVERIFY(audio->rtp->rxPcm.isEmpty());
    // Nothing new: the last chunk once more.
    QCOMPARE(read(1600), tone);
    // Fresh samples are taken in order, at most the request.
    audio->rtp->rxPcm = Tone::sine(440, 0.5, 400);
    QCOMPARE(read(320), Tone::sine(440, 0.5, 160));
    QCOMPARE(audio->rtp->rxPcm.size(), 480);
}

void TstAudio::gapThenSilence()
{
    const QByteArray frame = Tone::sine(440, 0.5, 160);
    audio->rtp->rxPcm = frame;
    QCOMPARE(read(1600), frame);
    // Repeats cover 60 ms (960 bytes): three frames, then silence.
    QCOMPARE(read(1600), frame);
    QCOMPARE(read(1600), frame);
    QCOMPARE(read(1600), frame);
    QCOMPARE(read(1600), QByteArray(320, '\0'));
    QCOMPARE(read(1600), QByteArray(320, '\0'));
    // Packets return: sound again, and a later gap is covered afresh.
    const QByteArray next = Tone::sine(300, 0.5, 160);
    audio->rtp->rxPcm = next;
    QCOMPARE(read(1600), next);
    QCOMPARE(read(1600), next);

    // A repeat budget that runs out mid-chunk: the rest of that chunk is silence.
    const QByteArray big = Tone::sine(440, 0.5, 350);
    audio->rtp->rxPcm = big;
    QCOMPARE(read(1600), big);
    QCOMPARE(read(1600), big);
    QCOMPARE(read(1600), big.left(960 - 700) + QByteArray(700 - 260, '\0'));
}

void TstAudio::repeatNeverExceedsRequest()
{
    const QByteArray chunk = Tone::sine(440, 0.5, 800);
    audio->rtp->rxPcm = chunk;
    QCOMPARE(read(1600), chunk);
    QCOMPARE(read(320), chunk.left(320));
    // The start chunk obeys the same bound.
    init();
    QCOMPARE(read(100), QByteArray(100, '\0'));
}

void TstAudio::startStopSequences()
{
    audio->audioStop();
    QVERIFY(!audio->audioInput->running);
    QVERIFY(!audio->audioOutput->running);

    audio->rtp->rxPcm = QByteArray(320, char(1));
    audio->audioStartSpeaker();
    QVERIFY(audio->rtp->rxPcm.isEmpty());
    QVERIFY(audio->audioOutput->running);
    QVERIFY(!audio->audioInput->running);
    QVERIFY(!audio->audioActive);

    audio->rtp->rxPcm = QByteArray(320, char(1));
    audio->audioStart();
    QVERIFY(audio->rtp->rxPcm.isEmpty());
    QVERIFY(audio->audioOutput->running);
    QVERIFY(audio->audioInput->running);
    QVERIFY(audio->audioActive);

    audio->audioStop();
    QVERIFY(!audio->audioActive);
    QVERIFY(!audio->audioInput->running);
    QVERIFY(!audio->audioOutput->running);
    QVERIFY(!audio->audioInput->isOpen());
    QVERIFY(!audio->audioOutput->isOpen());
}

QTEST_MAIN(TstAudio)
#include "tst_audio.moc"
