// The RTP session against a loopback peer: header fields and their run across
// calls and wraps, framing of the transmit buffer, the codec following the
// peer's payload type, the datagram size bounds, the bounded receive buffer,
// and the port choice, including sharing the media STUN client's port.

#include "codec.h"
#include "mainwindow.h"
#include "rtp.h"
#include "rtppeer.h"
#include "stunclient.h"
#include "stunserver.h"
#include "tone.h"
#include "udpsocket.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QUdpSocket>
#include <QtTest>

namespace {

struct Header {
    int first = -1;
    int pt = -1;
    quint16 seq = 0;
    quint32 ts = 0;
    quint32 ssrc = 0;
};

Header header(const QByteArray &p)
{
    Header h;
    if (p.size() < 12)
        return h;
    const auto *d = reinterpret_cast<const unsigned char *>(p.constData());
    h.first = d[0];
    h.pt = d[1];
    h.seq = quint16(d[2] << 8 | d[3]);
    h.ts = quint32(d[4]) << 24 | quint32(d[5]) << 16 | quint32(d[6]) << 8 | d[7];
    h.ssrc = quint32(d[8]) << 24 | quint32(d[9]) << 16 | quint32(d[10]) << 8 | d[11];
    return h;
}

quint16 freePort()
{
    QUdpSocket s;
    s.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return s.localPort();
}

} // namespace

class TstRtp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void headerFields();
    void framing_data();
    void framing();
    void counterWrapAndContinuation();
    void codecFollowsPeer();
    void datagramBounds_data();
    void datagramBounds();
    void payloadAlwaysAtTwelve();
    void receiveBufferBounded();
    void bindPort();
    void sharesStunClientPort();

private:
    // Waits until `count` packets reached the peer.
    bool peerGets(int count);

    MainWindow *window = nullptr;
    Rtp *rtp = nullptr;
    RtpPeer *peer = nullptr;
};

void TstRtp::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    window = new MainWindow;
}

void TstRtp::init()
{
    peer = new RtpPeer;
    QVERIFY(peer->start());
    window->mediaIp_ = QStringLiteral("127.0.0.1");
    window->mediaPort_ = QString::number(peer->port());
    window->mediaPort = freePort();
    window->stunLocalPortM = 0;
    rtp = new Rtp(nullptr);
    rtp->initSession();
    QVERIFY(rtp->udpSocket->localPort() != 0);
}

void TstRtp::cleanup()
{
    delete rtp;
    delete peer;
}

bool TstRtp::peerGets(int count)
{
    QSignalSpy spy(peer, &RtpPeer::received);
    while (peer->packets.size() < count) {
        if (!spy.wait(3000))
            return false;
    }
    return true;
}

void TstRtp::headerFields()
{
    const QByteArray tone = Tone::sine(1000, 0.5, 320);
    rtp->txPcm = tone.left(320);
    rtp->msgTransmiter();
    rtp->txPcm = tone.mid(320, 320);
    rtp->msgTransmiter();
    QVERIFY(peerGets(2));

    const QByteArray &p1 = peer->packets.at(0);
    QCOMPARE(p1.size(), 172);
    const Header h1 = header(p1);
    QCOMPARE(h1.first, 0x80);
    QCOMPARE(h1.pt, 8);
    QCOMPARE(h1.seq, quint16(1));
    QCOMPARE(h1.ts, quint32(160));
    QCOMPARE(h1.ssrc, quint32(0xFFFFFFFF));
    const auto *pcm = reinterpret_cast<const unsigned char *>(tone.constData());
    for (int i = 0; i < 160; ++i)
        QCOMPARE(static_cast<unsigned char>(p1[12 + i]), linear2alaw(lohiShort(pcm[2 * i], pcm[2 * i + 1])));

    const Header h2 = header(peer->packets.at(1));
    QCOMPARE(h2.seq, quint16(2));
    QCOMPARE(h2.ts, quint32(320));
    QCOMPARE(h2.ssrc, quint32(0xFFFFFFFF));
}

void TstRtp::framing_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("left");
    QTest::newRow("319: nothing yet") << 319 << 0 << 319;
    QTest::newRow("960: three at once") << 960 << 3 << 0;
    QTest::newRow("1000: three, 40 wait") << 1000 << 3 << 40;
}

void TstRtp::framing()
{
    QFETCH(int, bytes);
    QFETCH(int, packets);
    QFETCH(int, left);
    rtp->txPcm = Tone::sine(440, 0.3, bytes / 2 + 1).left(bytes);
    rtp->msgTransmiter();
    QCOMPARE(rtp->txPcm.size(), left);
    QCOMPARE(int(rtp->seqNumber), packets);
    // A follow-up frame proves nothing else went out: it must be number packets + 1.
    rtp->txPcm.append(QByteArray(320, '\0'));
    rtp->msgTransmiter();
    QVERIFY(peerGets(packets + 1));
    QCOMPARE(peer->packets.size(), packets + 1);
    for (int i = 0; i <= packets; ++i) {
        QCOMPARE(peer->packets.at(i).size(), 172);
        QCOMPARE(header(peer->packets.at(i)).seq, quint16(i + 1));
    }
}

void TstRtp::counterWrapAndContinuation()
{
    rtp->seqNumber = 65534;
    rtp->timestamp = 0xFFFFFFF0u - 160;
    rtp->txPcm = QByteArray(640, '\0');
    rtp->msgTransmiter();
    // A new call re-initialises the session; the counters run on.
    rtp->initSession();
    rtp->txPcm = QByteArray(320, '\0');
    rtp->msgTransmiter();
    QVERIFY(peerGets(3));
    QCOMPARE(header(peer->packets.at(0)).seq, quint16(65535));
    QCOMPARE(header(peer->packets.at(0)).ts, quint32(0xFFFFFFF0u));
    QCOMPARE(header(peer->packets.at(1)).seq, quint16(0));
    QCOMPARE(header(peer->packets.at(1)).ts, quint32(0x90));
    QCOMPARE(header(peer->packets.at(2)).seq, quint16(1));
    QCOMPARE(header(peer->packets.at(2)).ts, quint32(0x130));
}

void TstRtp::codecFollowsPeer()
{
    // Payload 0x7F is -8 in A-law's reading but u-law's 0x7F is another value:
    // the decoded sample tells which law was used.
    auto incoming = [](int pt) {
        QByteArray p(13, '\0');
        p[0] = char(0x80);
        p[1] = char(pt);
        p[12] = char(0x7F);
        return p;
    };
    auto lastSample = [this]() {
        const int n = rtp->rxPcm.size();
        return int(lohiShort(uchar(rtp->rxPcm[n - 2]), uchar(rtp->rxPcm[n - 1])));
    };
    auto sendFrame = [this]() {
        rtp->txPcm = Tone::sine(1000, 0.5, 160);
        rtp->msgTransmiter();
    };
    const int alawOf7F = alaw2linear(0x7F);
    const int ulawOf7F = alaw2linear(ulaw_to_alaw(0x7F));
    QVERIFY(alawOf7F != ulawOf7F);

    QByteArray p;
    p = incoming(0);                        // PCMU from the peer
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    QCOMPARE(lastSample(), ulawOf7F);
    sendFrame();                            // answered in u-law
    p = incoming(101);                      // telephone-event: heard in the current law
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    QCOMPARE(lastSample(), ulawOf7F);
    p = incoming(8);                        // back to A-law
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    QCOMPARE(lastSample(), alawOf7F);
    sendFrame();
    const int before = rtp->rxPcm.size();
    p = incoming(18);                       // G.729: dropped, header-only replies
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    p = incoming(101);                      // unknown type while on G.729: dropped
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    QCOMPARE(rtp->rxPcm.size(), before);
    sendFrame();
    sendFrame();
    p = incoming(3);                        // GSM: dropped too
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    QCOMPARE(rtp->rxPcm.size(), before);
    sendFrame();

    QVERIFY(peerGets(5));
    const QByteArray tone = Tone::sine(1000, 0.5, 160);
    const auto *pcm = reinterpret_cast<const unsigned char *>(tone.constData());
    const QByteArray &mu = peer->packets.at(0);
    QCOMPARE(header(mu).pt, 0);
    QCOMPARE(mu.size(), 172);
    for (int i = 0; i < 160; ++i)
        QCOMPARE(uchar(mu[12 + i]), alaw_to_ulaw(linear2alaw(lohiShort(pcm[2 * i], pcm[2 * i + 1]))));
    QCOMPARE(header(peer->packets.at(1)).pt, 8);
    QCOMPARE(peer->packets.at(1).size(), 172);
    for (int i : { 2, 3 }) {
        QCOMPARE(peer->packets.at(i).size(), 12);
        QCOMPARE(header(peer->packets.at(i)).pt, 18);
        QCOMPARE(header(peer->packets.at(i)).ts, quint32(320)); // no samples, no advance
    }
    QCOMPARE(header(peer->packets.at(3)).seq, quint16(4));
    QCOMPARE(peer->packets.at(4).size(), 12);
    QCOMPARE(header(peer->packets.at(4)).pt, 3);
}

void TstRtp::datagramBounds_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("added");
    QTest::newRow("empty") << 0 << 0;
    QTest::newRow("12: header only") << 12 << 0;
    QTest::newRow("13: one sample") << 13 << 2;
    QTest::newRow("172: one frame") << 172 << 320;
    QTest::newRow("1500: largest") << 1500 << 2 * 1488;
    QTest::newRow("1501: too long") << 1501 << 0;
    QTest::newRow("9000: jumbo") << 9000 << 0;
}

void TstRtp::datagramBounds()
{
    QFETCH(int, length);
    QFETCH(int, added);
    QByteArray d(length, char(0xD5));
    if (length >= 2) {
        d[0] = char(0x80);
        d[1] = char(8);
    }
    // Through the real socket, followed by a one-sample marker packet.
    const quint16 port = quint16(rtp->udpSocket->localPort());
    QByteArray marker = RtpPeer::packet(8, QByteArray(2, '\0'));
    peer->send(d, port);
    peer->send(marker, port);
    QSignalSpy spy(rtp->udpSocket->udpSocket, &QUdpSocket::readyRead);
    while (rtp->rxPcm.size() < added + 2 && spy.wait(3000)) {
    }
    QCOMPARE(rtp->rxPcm.size(), added + 2);
    QVERIFY(added == 0 || rtp->rxPcm.startsWith(QByteArray::fromHex("0800")));
}

void TstRtp::payloadAlwaysAtTwelve()
{
    // Extension bit and two CSRCs set: still decoded from offset 12 on.
    QByteArray p = RtpPeer::packet(8, Tone::sine(1000, 0.5, 160));
    p[0] = char(0x80 | 0x10 | 0x02);
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    QCOMPARE(rtp->rxPcm.size(), 320);
    for (int i = 0; i < 160; ++i)
        QCOMPARE(int(lohiShort(uchar(rtp->rxPcm[2 * i]), uchar(rtp->rxPcm[2 * i + 1]))), alaw2linear(uchar(p[12 + i])));
}

void TstRtp::receiveBufferBounded()
{
    QByteArray last;
    for (int i = 0; i < 30; ++i) {
        QByteArray p = RtpPeer::packet(8, Tone::sine(200 + 100 * i, 0.5, 160), quint16(i + 1), quint32(160 * (i + 1)));
        rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
        last = p;
    }
    QCOMPARE(rtp->rxPcm.size(), Rtp::rxPcmLimit);
    QCOMPARE(rtp->rxDroppedBytes, quint64(30 * 320 - Rtp::rxPcmLimit));
    // The newest samples stay; the oldest went.
    QByteArray decoded;
    for (int i = 12; i < last.size(); ++i) {
        const short s = short(alaw2linear(uchar(last[i])));
        decoded.append(char(loByte(s)));
        decoded.append(char(hiByte(s)));
    }
    QVERIFY(rtp->rxPcm.endsWith(decoded));
    // A new call starts empty.
    rtp->initSession();
    QVERIFY(rtp->rxPcm.isEmpty());
    QVERIFY(rtp->txPcm.isEmpty());
}

void TstRtp::bindPort()
{
    const quint16 configured = freePort();
    quint16 stun = freePort();
    while (stun == configured)
        stun = freePort();
    window->mediaPort = configured;
    window->stunLocalPortM = 0;
    rtp->initSession();
    QCOMPARE(rtp->udpSocket->localPort(), int(configured));
    window->stunLocalPortM = stun;
    rtp->initSession();
    QCOMPARE(rtp->udpSocket->localPort(), int(stun));
    window->stunLocalPortM = 0;
    rtp->initSession();
    QCOMPARE(rtp->udpSocket->localPort(), int(configured));
}

void TstRtp::sharesStunClientPort()
{
    StunServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    StunClient client;
    QSignalSpy updated(&client, &StunClient::updatedStunSignal);
    client.setStunClient(server.url());
    client.binding();
    QCOMPARE(updated.count(), 1);
    const int port = client.localPort;
    QVERIFY(port > 0);
    window->stunLocalPortM = port;

    for (int call = 1; call <= 2; ++call) {
        rtp->initSession();
        QVERIFY2(rtp->udpSocket->localPort() == port,
                 qPrintable(QString("call %1: RTP could not bind the media STUN client's port %2; both sockets need "
                                    "QAbstractSocket::ShareAddress (SO_REUSEADDR)").arg(call).arg(port)));
        QCOMPARE(int(static_cast<QUdpSocket &>(client).localPort()), port); // the STUN client keeps its socket
        const int before = rtp->rxPcm.size();
        peer->send(RtpPeer::packet(8, Tone::sine(1000, 0.5, 160)), quint16(port));
        QSignalSpy spy(rtp->udpSocket->udpSocket, &QUdpSocket::readyRead);
        while (rtp->rxPcm.size() < before + 320 && spy.wait(3000)) {
        }
        QVERIFY2(rtp->rxPcm.size() == before + 320, qPrintable(QString("call %1: RTP did not reach the session").arg(call)));
        QVERIFY(!client.hasPendingDatagrams());
        rtp->rxPcm.clear();
    }
    window->stunLocalPortM = 0;
}

QTEST_MAIN(TstRtp)
#include "tst_rtp.moc"
