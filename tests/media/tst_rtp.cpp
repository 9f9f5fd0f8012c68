// The RTP session against a loopback peer: header fields and their run across calls and wraps, framing
// of the transmit buffer, the codec following the peer's payload type, datagram size bounds, the
// bounded receive buffer, and the port choice, including sharing the media STUN client's port.

#include "codec.h"
#include "mainwindow.h"
#include "rtp.h"
#include "rtppeer.h"
#include "siptestserver.h"
#include "stunclient.h"
#include "stunserver.h"
#include "testmain.h"
#include "tone.h"
#include "udpsocket.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QUdpSocket>
#include <QtTest>

namespace {

// A big-endian header field of a received packet.
quint32 field(const QByteArray &p, int offset, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | uchar(p.at(offset + i));
    return v;
}

QByteArray encoded(int payloadType, const QByteArray &pcm)
{
    QByteArray out(pcm.size() / 2, '\0');
    auto in = reinterpret_cast<const uchar *>(pcm.constData());
    auto code = reinterpret_cast<uchar *>(out.data());
    payloadType == 8 ? alawEncodeFrame(in, code, out.size()) : ulawEncodeFrame(in, code, out.size());
    return out;
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
    void codecFollowsPeer();
    void datagramBounds_data();
    void datagramBounds();
    void receiveBufferBounded();
    void bindPort();

private:
    bool peerGets(int count);
    bool sessionGets(int bytes);
    void receive(int payloadType);
    void sendFrame();

    const QByteArray tone = Tone::sine(1000, 0.5, 160);
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
    window->mediaPort = SipTestServer::freePort();
    window->stunLocalPortM = 0;
    rtp = new Rtp(nullptr);
    rtp->initSession();
}

void TstRtp::cleanup()
{
    delete rtp;
    delete peer;
}

bool TstRtp::peerGets(int count)
{
    QSignalSpy spy(peer, &RtpPeer::received);
    while (peer->packets.size() < count)
        if (!spy.wait(3000))
            return false;
    return true;
}

bool TstRtp::sessionGets(int bytes)
{
    QSignalSpy spy(rtp->udpSocket->udpSocket, &QUdpSocket::readyRead);
    while (rtp->rxPcm.size() < bytes)
        if (!spy.wait(3000))
            return false;
    return true;
}

// One sample of 0x7F, which decodes differently in the two laws.
void TstRtp::receive(int payloadType)
{
    QByteArray p = RtpPeer::packet(8, QByteArray(2, '\0')).left(13);
    p[1] = char(payloadType);
    p[12] = char(0x7F);
    rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
}

void TstRtp::sendFrame()
{
    rtp->txPcm = tone;
    rtp->msgTransmiter();
}

void TstRtp::headerFields()
{
    sendFrame();
    sendFrame();
    // near the wrap, then the next call: the counters run on
    rtp->seqNumber = 65534;
    rtp->timestamp = 0xFFFFFFF0u - 160;
    sendFrame();
    sendFrame();
    rtp->initSession();
    sendFrame();
    QVERIFY(peerGets(5));
    const QByteArray &p = peer->packets.at(0);
    QCOMPARE(p.size(), 172);
    QCOMPARE(field(p, 0, 2), quint32(0x8008)); // version 2, A-law
    QCOMPARE(field(p, 8, 4), quint32(0xFFFFFFFF));
    QCOMPARE(p.mid(12), encoded(8, tone));
    const quint32 seqs[] = {1, 2, 65535, 0, 1}, stamps[] = {160, 320, 0xFFFFFFF0u, 0x90, 0x130};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(field(peer->packets.at(i), 2, 2), seqs[i]);
        QCOMPARE(field(peer->packets.at(i), 4, 4), stamps[i]);
    }
}

void TstRtp::framing_data()
{
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("packets");
    QTest::newRow("319: nothing yet") << 319 << 0;
    QTest::newRow("960: three at once") << 960 << 3;
    QTest::newRow("1000: three, 40 wait") << 1000 << 3;
}

void TstRtp::framing()
{
    QFETCH(int, bytes);
    QFETCH(int, packets);
    rtp->txPcm = QByteArray(bytes, '\x11');
    rtp->msgTransmiter();
    QCOMPARE(rtp->txPcm.size(), bytes - 320 * packets);
    // One more frame proves nothing else went out: it must be number packets + 1.
    rtp->txPcm.append(QByteArray(320, '\0'));
    rtp->msgTransmiter();
    QVERIFY(peerGets(packets + 1));
    QCOMPARE(peer->packets.size(), packets + 1);
    QCOMPARE(field(peer->packets.last(), 2, 2), quint32(packets + 1));
}

void TstRtp::codecFollowsPeer()
{
    auto last = [this] { return int(lohiShort(uchar(rtp->rxPcm.at(rtp->rxPcm.size() - 2)), uchar(rtp->rxPcm.back()))); };
    const int alaw = alaw2linear(0x7F), ulaw = alaw2linear(ulaw_to_alaw(0x7F));
    receive(0);
    QCOMPARE(last(), ulaw);
    sendFrame();   // 1: u-law
    receive(101);  // telephone-event: heard in the current law
    QCOMPARE(last(), ulaw);
    receive(8);
    QCOMPARE(last(), alaw);
    sendFrame();   // 2: A-law
    const int before = rtp->rxPcm.size();
    receive(18);   // G.729 and then an unknown type: both dropped
    receive(101);
    sendFrame();   // 3, 4: header only, the clock stands still
    sendFrame();
    receive(3);    // GSM
    sendFrame();   // 5
    QCOMPARE(rtp->rxPcm.size(), before);

    QVERIFY(peerGets(5));
    const QList<QByteArray> &p = peer->packets;
    QCOMPARE(field(p[0], 1, 1), quint32(0));
    QCOMPARE(p[0].mid(12), encoded(0, tone));
    QCOMPARE(p[1].mid(12), encoded(8, tone));
    const quint32 types[] = {18, 18, 3};
    for (int i = 2; i < 5; ++i) {
        QCOMPARE(p[i].size(), 12);
        QCOMPARE(field(p[i], 1, 1), types[i - 2]);
        QCOMPARE(field(p[i], 2, 2), quint32(i + 1));
        QCOMPARE(field(p[i], 4, 4), quint32(320));
    }
}

void TstRtp::datagramBounds_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("firstByte");
    QTest::addColumn<int>("added");
    QTest::newRow("12: header only") << 12 << 0x80 << 0;
    QTest::newRow("13: one sample") << 13 << 0x80 << 2;
    // Extension bit and two CSRCs: still decoded from offset 12 on.
    QTest::newRow("extension and CSRCs") << 172 << 0x92 << 320;
    QTest::newRow("1500: largest") << 1500 << 0x80 << 2 * 1488;
    QTest::newRow("1501: too long") << 1501 << 0x80 << 0;
    // more datagrams than one read slot takes: the rest must follow, not stall
    QTest::newRow("burst of 200") << -200 << 0x80 << 400;
}

void TstRtp::datagramBounds()
{
    QFETCH(int, length);
    QFETCH(int, firstByte);
    QFETCH(int, added);
    const quint16 port = quint16(rtp->udpSocket->localPort());
    // a negative length is a burst of that many one-sample packets
    QByteArray d = RtpPeer::packet(8, QByteArray(2, '\0'));
    if (length > 0) {
        d = QByteArray(length, char(0xD5));
        d[0] = char(firstByte);
        d[1] = char(8);
    }
    for (int i = 0; i < qMax(1, -length); ++i)
        peer->send(d, port);
    // Through the real socket, then a one-sample marker that must come after it.
    peer->send(RtpPeer::packet(8, QByteArray(2, '\0')), port);
    QVERIFY(sessionGets(added + 2));
    QCOMPARE(rtp->rxPcm.size(), added + 2);
    if (length > 0)
        QCOMPARE(rtp->rxPcm.left(2), QByteArray::fromHex("0800")); // 0xD5 decodes to 8
}

void TstRtp::receiveBufferBounded()
{
    QByteArray p;
    for (int i = 0; i < 30; ++i) {
        p = RtpPeer::packet(8, Tone::sine(200 + 100 * i, 0.5, 160));
        rtp->msgReceiver(reinterpret_cast<uchar *>(p.data()), p.size());
    }
    QCOMPARE(rtp->rxPcm.size(), Rtp::rxPcmLimit);
    QCOMPARE(rtp->rxDroppedBytes, quint64(30 * 320 - Rtp::rxPcmLimit));
    QByteArray newest(320, '\0'); // the newest samples stay, the oldest went
    alawDecodeFrame(reinterpret_cast<const uchar *>(p.constData()) + 12, reinterpret_cast<uchar *>(newest.data()), 160);
    QVERIFY(rtp->rxPcm.endsWith(newest));
    rtp->initSession();
    QVERIFY(rtp->rxPcm.isEmpty());
}

void TstRtp::bindPort()
{
    const int configured = window->mediaPort;
    QCOMPARE(rtp->udpSocket->localPort(), configured);

    // With STUN the session binds the media STUN client's port, which that client keeps bound too.
    StunServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    StunClient client;
    QSignalSpy updated(&client, &StunClient::updatedStunSignal);
    client.setStunClient(server.url());
    client.binding();
    QCOMPARE(updated.count(), 1);
    const int port = client.localPort;
    QVERIFY(port != configured);
    window->stunLocalPortM = port;
    for (int call = 1; call <= 2; ++call) {
        rtp->initSession();
        QVERIFY2(rtp->udpSocket->localPort() == port,
                 qPrintable(QString("call %1: RTP could not bind the media STUN client's port %2; both sockets need "
                                    "QAbstractSocket::ShareAddress (SO_REUSEADDR)").arg(call).arg(port)));
        QCOMPARE(int(static_cast<QUdpSocket &>(client).localPort()), port);
        peer->send(RtpPeer::packet(8, tone), quint16(port));
        QVERIFY2(sessionGets(320), qPrintable(QString("call %1: RTP did not reach the session").arg(call)));
        QVERIFY(!client.hasPendingDatagrams());
    }
    window->stunLocalPortM = 0;
    rtp->initSession();
    QCOMPARE(rtp->udpSocket->localPort(), configured);
}

SORVANTO_TEST_MAIN(TstRtp)
#include "tst_rtp.moc"
