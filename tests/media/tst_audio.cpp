// The capture and playback adapters without sound: capture blocks are framed
// into RTP as they add up; playback drains the receive buffer, never hands the
// device more than it asked for, covers a short gap and then plays silence.

#include "audio.h"
#include "audioinput.h"
#include "audiooutput.h"
#include "mainwindow.h"
#include "rtp.h"
#include "rtppeer.h"
#include "testmain.h"
#include "tone.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

class TstAudio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void captureBlocks();
    void stoppedAdapters();
    void playback();
    void gapThenSilence();
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
    audio = window->audio;
    QVERIFY(audio);
    peer = new RtpPeer(this);
    QVERIFY(peer->start());
    window->mediaIp_ = QStringLiteral("127.0.0.1");
    window->mediaPort_ = QString::number(peer->port());
    window->mediaPort = 0;
    window->stunLocalPortM = 0;
}

void TstAudio::init()
{
    // The adapters' started state, without the platform devices.
    audio->rtp->initSession();
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
    return n >= 0 && n <= maxlen ? out.left(int(n)) : QByteArray("bad length");
}

void TstAudio::captureBlocks()
{
    const QByteArray tone = Tone::sine(1000, 0.5, 200);
    const quint16 seq = audio->rtp->seqNumber;
    QSignalSpy spy(peer, &RtpPeer::received);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(audio->audioInput->writeData(tone.constData() + 100 * i, 100), qint64(100));
    QCOMPARE(audio->rtp->seqNumber, seq);
    QCOMPARE(audio->audioInput->writeData(tone.constData() + 300, 100), qint64(100));
    QCOMPARE(audio->rtp->txPcm, tone.mid(320, 80));
    QVERIFY(spy.wait(3000));
    QCOMPARE(peer->packets.size(), 1);
    QCOMPARE(peer->packets.last().size(), 172);
}

void TstAudio::stoppedAdapters()
{
    audio->audioInput->running = false;
    audio->audioOutput->running = false;
    QCOMPARE(audio->audioInput->writeData("abcd", 4), qint64(0));
    QVERIFY(audio->rtp->txPcm.isEmpty());
    // A full request of silence (zero samples, not 0xD5), and the received
    // samples stay for later.
    audio->rtp->rxPcm = QByteArray(640, char(0x11));
    QCOMPARE(read(1000), QByteArray(1000, '\0'));
    QCOMPARE(audio->rtp->rxPcm.size(), 640);
    QCOMPARE(audio->audioOutput->readData(nullptr, 0), qint64(0));
}

void TstAudio::playback()
{
    QCOMPARE(read(4096), QByteArray(960, '\0')); // the start chunk, silent
    QCOMPARE(read(100), QByteArray(100, '\0'));  // never more than asked
    const QByteArray tone = Tone::sine(440, 0.5, 250);
    audio->rtp->rxPcm = tone;
    QCOMPARE(read(1600), tone);
    QVERIFY(audio->rtp->rxPcm.isEmpty());
    QCOMPARE(read(1600), tone);                   // nothing new: the last chunk again
    QCOMPARE(read(320), tone.left(320));          // a repeat longer than the request is cut
    audio->rtp->rxPcm = Tone::sine(440, 0.5, 400);
    QCOMPARE(read(320), Tone::sine(440, 0.5, 160));
    QCOMPARE(audio->rtp->rxPcm.size(), 480);
}

void TstAudio::gapThenSilence()
{
    // Repeats cover 60 ms (960 bytes), then silence until packets return.
    const QByteArray frame = Tone::sine(440, 0.5, 160);
    audio->rtp->rxPcm = frame;
    QCOMPARE(read(1600), frame);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(read(1600), frame);
    QCOMPARE(read(1600), QByteArray(320, '\0'));
    QCOMPARE(read(1600), QByteArray(320, '\0'));
    const QByteArray next = Tone::sine(300, 0.5, 350);
    audio->rtp->rxPcm = next;
    QCOMPARE(read(1600), next);
    QCOMPARE(read(1600), next);
    // The budget runs out inside the second repeat: its rest is silence.
    QCOMPARE(read(1600), next.left(960 - 700) + QByteArray(700 - 260, '\0'));
}

void TstAudio::startStopSequences()
{
    // the speaker alone (early media), then both; each start drops stale samples
    audio->audioStop();
    audio->rtp->rxPcm = QByteArray(320, char(1));
    audio->audioStartSpeaker();
    QVERIFY(audio->rtp->rxPcm.isEmpty());
    QVERIFY(audio->audioOutput->running && !audio->audioInput->running && !audio->audioActive);

    audio->rtp->rxPcm = QByteArray(320, char(1));
    audio->audioStart();
    QVERIFY(audio->rtp->rxPcm.isEmpty());
    QVERIFY(audio->audioOutput->running && audio->audioInput->running && audio->audioActive);

    audio->audioStop();
    QVERIFY(!audio->audioActive && !audio->audioInput->running && !audio->audioOutput->running);
    QVERIFY(!audio->audioInput->isOpen() && !audio->audioOutput->isOpen());
}

SORVANTO_TEST_MAIN(TstAudio)
#include "tst_audio.moc"
