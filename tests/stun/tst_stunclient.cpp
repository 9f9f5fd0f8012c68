// StunClient sends one well-formed Binding Request, reports the first IPv4 mapping of a
// matching answer, and nothing for a foreign, failed, malformed or missing one.
#include "stunattributemodel.h"
#include "fakestunserver.h"
#include "stunclient.h"
#include "stunserver.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

namespace {

const QByteArray testId = FakeStunServer::placeholderId();

QByteArray be(quint32 v, int size)
{
    QByteArray b(4, '\0');
    qToBigEndian<quint32>(v, reinterpret_cast<uchar *>(b.data()));
    return b.right(size);
}

// type, length (the value's own unless given) and value padded to a multiple of 4
QByteArray attr(quint16 type, const QByteArray &value, int length = -1)
{
    QByteArray a = be(type, 2) + be(quint16(length < 0 ? value.size() : length), 2) + value;
    return a + QByteArray((4 - a.size() % 4) % 4, '\0');
}

QByteArray addr(quint16 type, quint16 port, const char *ip, quint32 key = 0)
{
    const quint32 raw = QHostAddress(QLatin1String(ip)).toIPv4Address() ^ key;
    return attr(type, be(1, 2) + be(port ^ quint16(key >> 16), 2) + be(raw, 4));
}

QByteArray xorAddr(quint16 port, const char *ip, quint16 type = 0x0020) { return addr(type, port, ip, 0x2112A442); }

QByteArray response(quint16 type, const QByteArray &attrs, int length = -1, const QByteArray &id = testId,
                    quint32 cookie = 0x2112A442)
{
    return be(type, 2) + be(quint16(length < 0 ? attrs.size() : length), 2) + be(cookie, 4) + id + attrs;
}

} // namespace

class TstStunClient : public QObject
{
    Q_OBJECT

private slots:
    void requestBytes();
    void answers_data();
    void answers();
    void overlappingLookups();
    void serverUrl_data();
    void serverUrl();
    void realServer();
};

void TstStunClient::requestBytes()
{
    FakeStunServer server;
    server.answers = {response(0x0101, addr(0x0001, 1, "10.0.0.1"))};
    StunClient client;
    client.setStunClient(server.url());
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    client.binding();
    client.binding();
    QCOMPARE(done.count(), 2);
    QCOMPARE(server.requests.size(), 2);
    for (const QByteArray &request : qAsConst(server.requests)) {
        QCOMPARE(request.size(), 20);
        QCOMPARE(request.left(8).toHex(), QByteArray("000100002112a442"));
    }
    QVERIFY(server.requests[0].mid(8) != server.requests[1].mid(8)); // fresh ID each time
}

void TstStunClient::answers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("ip"); // empty: nothing reported
    QTest::addColumn<int>("port");

    const QByteArray mapped = addr(0x0001, 1111, "203.0.113.9");
    QTest::newRow("xor example") << response(0x0101, xorAddr(8080, "192.168.1.4")) << "192.168.1.4" << 8080;
    QTest::newRow("xor 0x8020") << response(0x0101, xorAddr(8080, "192.168.1.4", 0x8020)) << "192.168.1.4" << 8080;
    QTest::newRow("xor keyed by the cookie field as sent")
        << response(0x0101, addr(0x0020, 5060, "198.51.100.7", 0x01020304), -1, testId, 0x01020304)
        << "198.51.100.7" << 5060;
    QTest::newRow("first address wins") << response(0x0101, mapped + xorAddr(8080, "192.168.1.4")) << "203.0.113.9" << 1111;
    QTest::newRow("0x8001 is not mapped") << response(0x0101, addr(0x8001, 1111, "203.0.113.9")) << "" << 0;
    QTest::newRow("other types decoded") << response(0x0115, mapped) << "203.0.113.9" << 1111;
    QTest::newRow("binding error response") << response(0x0111, mapped) << "" << 0;
    QTest::newRow("foreign id") << response(0x0101, mapped, -1, QByteArray(12, 'x')) << "" << 0;
    QTest::newRow("short datagram") << response(0x0101, QByteArray()).left(19) << "" << 0;
    QTest::newRow("message length 0") << response(0x0101, mapped, 0) << "" << 0;
    QTest::newRow("5-byte value, next attribute 12 bytes on")
        << response(0x0101, attr(0x8022, "abcde") + xorAddr(8080, "192.168.1.4")) << "192.168.1.4" << 8080;
    QTest::newRow("ipv6 skipped")
        << response(0x0101, attr(0x0020, be(2, 2) + be(1, 2) + QByteArray(16, '\x7f')) + mapped) << "203.0.113.9" << 1111;
    QTest::newRow("address value too short") << response(0x0101, attr(0x0001, mapped.mid(4, 6))) << "" << 0;
    QTest::newRow("truncated attribute keeps the first")
        << response(0x0101, mapped + mapped.left(10)) << "203.0.113.9" << 1111;
    QTest::newRow("attribute past the message length") << response(0x0101, mapped, 8) << "" << 0;
    QTest::newRow("over-long attribute") << response(0x0101, attr(0x0001, mapped.mid(4), 0xFFFF)) << "" << 0;
    QTest::newRow("silence until the limit") << QByteArray() << "" << 0;
}

void TstStunClient::answers()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, ip);
    QFETCH(int, port);

    FakeStunServer server;
    server.answers = {answer};
    server.silent = answer.isEmpty();
    StunClient client;
    client.setStunClient(server.url());
    client.stunIp = QStringLiteral("earlier");
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    client.binding(); // returns at the latest when the wait is over
    QCOMPARE(server.requests.size(), 1);
    if (ip.isEmpty()) {
        QCOMPARE(done.count(), 0);
        QCOMPARE(client.stunIp, QStringLiteral("earlier")); // a failure keeps the last result
        return;
    }
    QCOMPARE(done.count(), 1);
    QCOMPARE(done[0][0].toString(), ip);
    QCOMPARE(done[0][1].toInt(), port);
    QCOMPARE(done[0][2].toInt(), int(client.QUdpSocket::localPort()));
    // current_addr follows the last address decoded
    QCOMPARE(client.getCurrent_addr().port, client.attributes.last()->port);
}

// Neither a late answer to one lookup nor a lookup asked for during the wait
// spoils the lookup in progress.
void TstStunClient::overlappingLookups()
{
    FakeStunServer server;
    const QByteArray answer = response(0x0101, addr(0x0001, 1111, "203.0.113.9"));
    server.answers = {answer, answer};
    StunClient client;
    client.setStunClient(server.url());
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    QTimer::singleShot(0, &client, &StunClient::binding);
    client.binding();
    client.binding();
    QCOMPARE(server.requests.size(), 2);
    QCOMPARE(done.count(), 2);
}

void TstStunClient::serverUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("host and port") << "udp://127.0.0.1:3479" << "127.0.0.1" << 3479;
    QTest::newRow("no port") << "udp://127.0.0.2" << "127.0.0.2" << 3478;
    QTest::newRow("no host keeps the server") << "udp://:4000" << "127.0.0.9" << 9;
}

void TstStunClient::serverUrl()
{
    QFETCH(QString, url);
    QFETCH(QString, host);
    QFETCH(int, port);

    StunClient client;
    client.setStunClient(QStringLiteral("udp://127.0.0.9:9"));
    client.setStunClient(url);
    QCOMPARE(client.serverAddress.toString(), host);
    QCOMPARE(int(client.serverPort), port);
    QCOMPARE(client.url, port == 9 ? QStringLiteral("udp://127.0.0.9:9") : url);
}

void TstStunClient::realServer()
{
    StunServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));

    StunClient client;
    client.setStunClient(server.url());
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    client.binding();
    QCOMPARE(done.count(), 1);
    const int ownPort = client.QUdpSocket::localPort();
    QVERIFY(ownPort != 0);
    QCOMPARE(done[0], (QList<QVariant>{QStringLiteral("127.0.0.1"), ownPort, ownPort}));

    // RTP binds the port the mapping was learned for; a later lookup still
    // gets its answer, on a port of its own
    QUdpSocket rtp;
    QVERIFY(rtp.bind(QHostAddress(QHostAddress::AnyIPv4), quint16(ownPort), QAbstractSocket::ShareAddress));
    client.binding();
    QCOMPARE(done.count(), 2);
    const int nextPort = client.QUdpSocket::localPort();
    QVERIFY(nextPort != ownPort);
    QCOMPARE(done[1], (QList<QVariant>{QStringLiteral("127.0.0.1"), nextPort, nextPort}));
    QVERIFY(!rtp.hasPendingDatagrams());
}

QTEST_GUILESS_MAIN(TstStunClient)
#include "tst_stunclient.moc"
