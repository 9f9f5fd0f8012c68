// The RTP session against a loopback peer: the packets it sends and their run
// across calls and wraps, where a received payload starts, which payload
// types are heard, in-band DTMF in the sent audio, and early media running on
// into the answered call.

#include "audio.h"
#include "audioinput.h"
#include "mainwindow.h"
#include "rtp.h"
#include "rtpheader.h"
#include "rtppeer.h"
#include "siptestserver.h"
#include "testmain.h"
#include "tone.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

class TstRtp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sentPackets();
    void payloadPlace_data();
    void payloadPlace();
    void payloadTypes();
    void dtmf();
    void earlyMediaRunsOn();

private:
    bool peerGets(int count)
    {
        QSignalSpy spy(&peer, &RtpPeer::received);
        while (peer.packets.size() < count)
            if (!spy.wait(3000))
                return false;
        return true;
    }
    void send(const QByteArray &pcm)
    {
        rtp->txPcm = pcm;
        rtp->msgTransmiter();
    }
    void receive(QByteArray p)
    {
        rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    }

    MainWindow *window = nullptr;
    Rtp *rtp = nullptr;
    RtpPeer peer;
    const QByteArray tone = Tone::sine(1000, 0.5, 160);
};

void TstRtp::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    window = new MainWindow;
    QVERIFY(peer.start());
    window->mediaIp_ = QStringLiteral("127.0.0.1");
    window->mediaPort_ = QString::number(peer.port());
    window->mediaPort = SipTestServer::freePort();
    window->stunLocalPortM = 0;
    rtp = window->audio->rtp;
    rtp->initSession();
}

void TstRtp::sentPackets()
{
    const quint16 seq = rtp->seqNumber;
    const quint32 ts = rtp->timestamp;
    send(tone + tone.left(100));
    QCOMPARE(rtp->txPcm.size(), 100); // a part frame waits for the rest
    rtp->seqNumber = 65535;
    rtp->initSession();               // the next call: counters run on, across the wrap
    send(tone);
    QVERIFY(peerGets(2));
    const QByteArray first = peer.packets.at(0), second = peer.packets.at(1);
    QCOMPARE(first, RtpPeer::packet(8, tone, quint16(seq + 1), ts + 160).replace(8, 4, QByteArray(4, '\xFF')));
    QCOMPARE(second.mid(2, 2), QByteArray(2, '\0'));
    peer.packets.clear();
}

void TstRtp::payloadPlace_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("offset"); // -1: dropped
    QTest::addColumn<int>("length");
    const QByteArray fixed = QByteArray::fromHex("0008000100000000AABBCCDD"), payload(20, 'x');
    auto with = [&](int first, const QByteArray &rest) { return char(first) + fixed.mid(1) + rest; };
    QTest::newRow("plain") << with(0x80, payload) << 12 << 20;
    QTest::newRow("two CSRCs") << with(0x82, QByteArray(8, 'c') + payload) << 20 << 20;
    QTest::newRow("extension") << with(0x90, QByteArray::fromHex("BEDE0002") + QByteArray(8, 'e') + payload) << 24 << 20;
    QTest::newRow("CSRC, extension, padding") << with(0xB1, QByteArray(4, 'c') + QByteArray::fromHex("BEDE0000") + payload + QByteArray::fromHex("000003")) << 20 << 20;
    QTest::newRow("CSRCs past the end") << with(0x8F, payload) << -1 << 0;
    QTest::newRow("extension past the end") << with(0x90, QByteArray::fromHex("BEDE0009") + payload) << -1 << 0;
    QTest::newRow("padding past the header") << with(0xA0, payload.left(19) + char(30)) << -1 << 0;
    QTest::newRow("version 1") << with(0x40, payload) << -1 << 0;
}

void TstRtp::payloadPlace()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, offset);
    QFETCH(int, length);
    RtpHeader h;
    QCOMPARE(h.parse(reinterpret_cast<const uchar *>(packet.constData()), packet.size()), offset >= 0);
    if (offset >= 0) {
        QCOMPARE(h.payloadOffset, offset);
        QCOMPARE(h.payloadLength, length);
    }
}

void TstRtp::payloadTypes()
{
    // Only G.711 is heard, in the law it came in; nothing else changes what is sent.
    rtp->initSession();
    QByteArray withCsrc = RtpPeer::packet(0, tone, 1);
    withCsrc[0] = char(0x81);
    receive(withCsrc.insert(12, QByteArray(4, '\x7F')));
    receive(RtpPeer::packet(18, tone.left(40), 2));
    receive(RtpPeer::packet(101, tone.left(8), 2));
    receive(RtpPeer::packet(13, tone.left(2), 2));
    send(tone);
    receive(RtpPeer::packet(8, tone, 2, 320));
    send(tone);
    QCOMPARE(int(rtp->rxBuffer.figures().received), 2);
    QVector<qint16> heard(320);
    rtp->rxBuffer.pull(heard.data(), 320);
    const QByteArray expected = RtpPeer::decode({RtpPeer::packet(0, tone)}, 0) + RtpPeer::decode({RtpPeer::packet(8, tone)}, 8);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(heard.constData()), 640), expected);
    QVERIFY(peerGets(2));
    QCOMPARE(peer.packets.at(0).size(), 172);
    QCOMPARE(int(peer.packets.at(0).at(1)), 0);
    QCOMPARE(int(peer.packets.at(1).at(1)), 8);
    peer.packets.clear();
}

void TstRtp::dtmf()
{
    // Two keys on a quiet microphone tone: 100 ms pairs at -10 dBm0 each, 60 ms apart, the voice mixed under.
    QVERIFY(!rtp->dtmf.queue('x'));
    QVERIFY(rtp->dtmf.queue('1') && rtp->dtmf.queue('#'));
    const QByteArray mic = Tone::sine(440, 0.1, 8000);
    for (int i = 0; i < 25; ++i)
        send(mic.mid(320 * i, 320));
    QVERIFY(peerGets(25));
    const QByteArray sent = RtpPeer::decode(peer.packets, 8);
    QCOMPARE(Tone::dtmf(sent), QStringLiteral("1#"));
    const QByteArray key = sent.left(1600), pause = sent.mid(1600, 960);
    const double minus10dBm0 = std::pow(10, -13.14 / 20);
    for (double f : {697, 1209}) {
        QVERIFY2(std::fabs(20 * std::log10(Tone::level(key, f) / minus10dBm0)) < 1, qPrintable(QString::number(f)));
        QVERIFY(Tone::level(pause, f) < 0.01);
    }
    QVERIFY(Tone::level(key, 440) > 0.08 && Tone::level(pause, 440) > 0.08);
    peer.packets.clear();
}

void TstRtp::earlyMediaRunsOn()
{
    // The answer after a 183 with SDP keeps the session: what was received still plays.
    Audio *audio = window->audio;
    audio->audioStartSpeaker();
    receive(RtpPeer::packet(8, tone, 500, 8000));
    audio->audioStartSpeaker();
    audio->audioStart();
    QVERIFY(audio->audioActive && audio->audioInput->running);
    QCOMPARE(rtp->rxBuffer.bufferedSamples(), 160);
    audio->audioStop();
}

SORVANTO_TEST_MAIN(TstRtp)
#include "tst_rtp.moc"
