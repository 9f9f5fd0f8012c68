// 20,000 SIP datagrams from a stranger are never processed, and 10,000 partly malformed RTP packets keep
// the playback buffer within its bound; the 50 ms timer stays on time and memory flat throughout.
#include "audio.h"
#include "dialog.h"
#include "looplatency.h"
#include "mainwindow.h"
#include "pulsestream.h"
#include "rtp.h"
#include "rtppeer.h"
#include "sip.h"
#include "sipparser.h"
#include "siptestserver.h"
#include "siptexts.h"
#include "testmain.h"
#include "testphone.h"
#include "tone.h"
#include "udpsocket.h"

#include <QRandomGenerator>
#include <QUdpSocket>
#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
// Freed memory waits in ASan's quarantine; keep it small so that resident
// memory still tells whether the phone holds on to what it was sent.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16"; }
#endif

class TstFlood : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sipFromStranger();
    void rtpDuringCall();

private:
    // Sends `total` datagrams made by `make(i)` in bursts every 10 ms over
    // `seconds`, returns once all are out.
    template <class Make> static void flood(QUdpSocket &socket, const QHostAddress &to, quint16 port, int total,
                                            int seconds, Make make, const std::function<void()> &onTick = {});
};

void TstFlood::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

template <class Make>
void TstFlood::flood(QUdpSocket &socket, const QHostAddress &to, quint16 port, int total, int seconds, Make make,
                     const std::function<void()> &onTick)
{
    const int ticks = seconds * 100;
    const int perTick = (total + ticks - 1) / ticks;
    int sent = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&]() {
        for (int i = 0; i < perTick && sent < total; ++i, ++sent)
            socket.writeDatagram(make(sent), to, port);
        if (onTick)
            onTick();
        if (sent >= total)
            timer.stop();
    });
    timer.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(!timer.isActive(), seconds * 4000);
}

void TstFlood::sipFromStranger()
{
    const quint16 port = SipTestServer::freePort();
    QVERIFY(port);
    SipTestServer server;
    QScopedPointer<MainWindow> owner(TestPhone::registered(server, port));
    MainWindow *w = owner.data();
    QVERIFY(w);
    server.clear();
    QSignalSpy rings(w, &MainWindow::dialogWinShowSignal);
    QSignalSpy registered(w, &MainWindow::registeredSignal);

    // What a server would send, and what no server sends.
    const QString longLine = "Subject: " + QString(20000, 'x');
    QList<QByteArray> kinds{
        SipTexts::options("f1", port).toUtf8(),
        SipTexts::invite("f2", port).toUtf8(),
        SipTexts::cancel("f2", port).toUtf8(),
        SipTexts::invite("f3", port).replace("Content-Type", longLine + "\r\nContent-Type").toUtf8(),
        ("SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP 127.0.0.1:" + QByteArray::number(port)
         + "\r\nCSeq: 1 REGISTER\r\nCall-ID: r\r\nContent-Length: 0\r\n\r\n"),
        QByteArray("INVITE ") + QByteArray(60000, 'a'),
    };
    QRandomGenerator rng(20000);
    auto make = [&](int i) {
        if (i % 8 < kinds.size())
            return kinds.at(i % 8);
        QByteArray garbage(int(rng.bounded(1, 1400)), Qt::Uninitialized);
        for (char &c : garbage)
            c = char(rng.bounded(256));
        return garbage;
    };

    QUdpSocket stranger;
    QVERIFY(stranger.bind(QHostAddress("127.0.0.3"), 0));
    LoopLatency loop;
    loop.start();
    qint64 settledRss = 0;
    int tick = 0;
    flood(stranger, QHostAddress("127.0.0.1"), port, 20000, 10, make, [&]() {
        if (++tick == 200)
            settledRss = LoopLatency::rssKb();
    });
    QTest::qWait(300);
    loop.stop();

    QCOMPARE(rings.size(), 0);
    QCOMPARE(registered.size(), 0);
    QCOMPARE(w->audio->sip->parser->callState, 0);
    QVERIFY(!w->dialog->isVisible());
    QVERIFY(!stranger.hasPendingDatagrams());
    for (const QString &text : server.texts())
        QVERIFY2(text.startsWith("REGISTER sip:"), qPrintable(text.left(200)));
    QVERIFY2(loop.worstLateMs <= LoopLatency::allowedLateMs(100), qPrintable(QStringLiteral("timer late by %1 ms").arg(loop.worstLateMs)));
    const qint64 growth = loop.peakRssKb - settledRss;
    QVERIFY2(growth < 32 * 1024, qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(growth)));

    // The server itself is still heard.
    server.clear();
    server.send(SipTexts::options("after", port));
    QTRY_VERIFY(server.texts().join('\n').contains("SIP/2.0 200 OK"));
}

void TstFlood::rtpDuringCall()
{
    const QString noAudio = PulseStream::unavailable();
    QVERIFY2(noAudio.isEmpty(), qPrintable(noAudio));
    RtpPeer peer;
    QVERIFY(peer.start());
    const quint16 port = SipTestServer::freePort();
    SipTestServer server;
    QScopedPointer<MainWindow> owner(TestPhone::registered(server, port));
    MainWindow *w = owner.data();
    QVERIFY(w);

    server.send(SipTexts::invite("rtpflood", port, SipTexts::sdp("127.0.0.1", peer.port())));
    QTRY_VERIFY(server.texts().join('\n').contains("SIP/2.0 180 Ringing"));
    w->answerSlot();
    QTRY_VERIFY(server.texts().join('\n').contains("SIP/2.0 200 OK"));
    QVERIFY(w->audioActive());
    QTRY_VERIFY_WITH_TIMEOUT(peer.packets.size() > 5, 5000);

    Rtp *rtp = w->audio->rtp;
    const quint16 phonePort = quint16(rtp->udpSocket->localPort());
    QVERIFY(phonePort);
    const QByteArray speech = Tone::sine(1000, 0.3, 160);
    const QByteArray pcma = RtpPeer::packet(8, speech), pcmu = RtpPeer::packet(0, speech);
    QByteArray extended = pcma;
    extended[0] = char(0x80 | 0x10 | 0x0F); // extension bit and 15 CSRCs that are not there
    QRandomGenerator rng(10000);
    auto make = [&](int i) -> QByteArray {
        switch (i % 20) {
        case 14: return pcmu;
        case 15: return extended;
        case 16: return QByteArray(5, '\x80');
        case 17: return pcma.left(12);
        case 18: return QByteArray(1501, '\x80');
        case 19: {
            QByteArray garbage(int(rng.bounded(13, 1501)), Qt::Uninitialized);
            for (char &c : garbage)
                c = char(rng.bounded(256));
            return garbage;
        }
        default: return pcma;
        }
    };

    QUdpSocket flooder;
    QVERIFY(flooder.bind(QHostAddress("127.0.0.1"), 0));
    LoopLatency loop;
    loop.start();
    int worstBuffer = 0;
    qint64 settledRss = 0;
    int tick = 0;
    flood(flooder, QHostAddress("127.0.0.1"), phonePort, 10000, 5, make, [&]() {
        worstBuffer = qMax(worstBuffer, 2 * rtp->rxBuffer.bufferedSamples());
        if (++tick == 100)
            settledRss = LoopLatency::rssKb();
    });
    loop.stop();

    // At most 200 ms of sound wait for the speaker, whatever arrives.
    QVERIFY2(worstBuffer <= Rtp::rxPcmLimit, qPrintable(QString::number(worstBuffer)));
    QVERIFY(rtp->rxDroppedBytes > 0);
    const qint64 growth = loop.peakRssKb - settledRss;
    QVERIFY2(growth < 32 * 1024, qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(growth)));
    QVERIFY2(loop.worstLateMs <= LoopLatency::allowedLateMs(100), qPrintable(QStringLiteral("timer late by %1 ms").arg(loop.worstLateMs)));

    // The call goes on: the phone still sends its 20 ms packets, then hangs up.
    const int sentBefore = peer.packets.size();
    QTRY_VERIFY_WITH_TIMEOUT(peer.packets.size() > sentBefore + 10, 5000);
    server.clear();
    w->disconnectSlot();
    QTRY_VERIFY(server.texts().join('\n').contains("BYE sip:"));
}

SORVANTO_TEST_MAIN(TstFlood)
#include "tst_flood.moc"
