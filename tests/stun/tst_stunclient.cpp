// StunClient sends one well-formed Binding Request, reports the first IPv4 mapping of a
// matching response and nothing for a foreign, failed, malformed or missing answer.
#include "stunattributemodel.h"
#include "stunclient.h"
#include "stunserver.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <functional>

namespace {

const QByteArray testId = QByteArray::fromHex("0102030405060708090a0b0c");

QByteArray u16(quint16 v)
{
    QByteArray b(2, '\0');
    qToBigEndian<quint16>(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

QByteArray u32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian<quint32>(v, reinterpret_cast<uchar *>(b.data()));
    return b;
}

// type, length and value padded to a multiple of 4
QByteArray attr(quint16 type, const QByteArray &value, int length = -1)
{
    QByteArray a = u16(type) + u16(quint16(length < 0 ? value.size() : length)) + value;
    while (a.size() % 4)
        a += '\0';
    return a;
}

QByteArray address(quint8 family, quint16 port, quint32 ip)
{
    return QByteArray(1, '\0') + char(family) + u16(port) + u32(ip);
}

QByteArray mapped(quint16 port, const char *ip, quint16 type = 0x0001)
{
    return attr(type, address(1, port, QHostAddress(QLatin1String(ip)).toIPv4Address()));
}

QByteArray xorMapped(quint16 port, const char *ip, quint16 type = 0x0020, quint32 cookie = 0x2112A442)
{
    const quint32 raw = QHostAddress(QLatin1String(ip)).toIPv4Address() ^ cookie;
    return attr(type, address(1, port ^ quint16(cookie >> 16), raw));
}

QByteArray response(quint16 type, const QByteArray &attrs, const QByteArray &id = testId,
                    int length = -1, quint32 cookie = 0x2112A442)
{
    return u16(type) + u16(quint16(length < 0 ? attrs.size() : length)) + u32(cookie) + id + attrs;
}

// A scripted STUN server on loopback: answers each request with what `reply`
// builds from it and the sender's address.
class FakeStunServer : public QObject
{
public:
    std::function<QList<QByteArray>(const QByteArray &, const QNetworkDatagram &)> reply;
    QList<QByteArray> requests;

    FakeStunServer()
    {
        socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
        connect(&socket, &QUdpSocket::readyRead, this, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = socket.receiveDatagram();
                requests.append(d.data());
                if (reply)
                    for (const QByteArray &out : reply(d.data(), d))
                        socket.writeDatagram(out, d.senderAddress(), quint16(d.senderPort()));
            }
        });
    }
    QString url() const { return QStringLiteral("udp://127.0.0.1:%1").arg(socket.localPort()); }

private:
    QUdpSocket socket;
};

using Reply = std::function<QList<QByteArray>(const QByteArray &request, const QNetworkDatagram &from)>;

} // namespace

Q_DECLARE_METATYPE(Reply)

class TstStunClient : public QObject
{
    Q_OBJECT

private slots:
    void requestBytes();
    void decoding_data();
    void decoding();
    void serverUrl_data();
    void serverUrl();
    void fakeServer_data();
    void fakeServer();
    void lateDuplicateAnswer();
    void realServer();
};

void TstStunClient::requestBytes()
{
    FakeStunServer server;
    StunClient client;
    client.setStunClient(server.url());
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    server.reply = [](const QByteArray &request, const QNetworkDatagram &) {
        return QList<QByteArray>{response(0x0101, mapped(1, "10.0.0.1"), request.mid(8, 12))};
    };
    client.binding();
    client.binding();
    QCOMPARE(done.count(), 2);
    QCOMPARE(server.requests.size(), 2);
    for (const QByteArray &request : qAsConst(server.requests)) {
        QCOMPARE(request.size(), 20);
        QCOMPARE(request.left(8).toHex(), QByteArray("000100002112a442"));
    }
    // a fresh, unpredictable ID for every request
    QVERIFY(server.requests[0].mid(8) != server.requests[1].mid(8));
    QCOMPARE(server.requests[1].mid(8), client.transactionId);
}

void TstStunClient::decoding_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("ip"); // empty: nothing reported
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("decoded");

    QTest::newRow("xor example") << response(0x0101, xorMapped(8080, "192.168.1.4")) << "192.168.1.4" << 8080 << 1;
    QTest::newRow("xor 0x8020") << response(0x0101, xorMapped(8080, "192.168.1.4", 0x8020)) << "192.168.1.4" << 8080 << 1;
    QTest::newRow("xor keyed by the cookie field as sent")
        << response(0x0101, xorMapped(5060, "198.51.100.7", 0x0020, 0x01020304), testId, -1, 0x01020304)
        << "198.51.100.7" << 5060 << 1;
    QTest::newRow("mapped first wins")
        << response(0x0101, mapped(1111, "203.0.113.9") + xorMapped(8080, "192.168.1.4")) << "203.0.113.9" << 1111 << 2;
    QTest::newRow("xor first wins")
        << response(0x0101, xorMapped(8080, "192.168.1.4") + mapped(1111, "203.0.113.9")) << "192.168.1.4" << 8080 << 2;
    QTest::newRow("0x8001 is not mapped") << response(0x0101, mapped(1111, "203.0.113.9", 0x8001)) << "" << 0 << 0;
    QTest::newRow("request type decoded") << response(0x0001, mapped(1111, "203.0.113.9")) << "203.0.113.9" << 1111 << 1;
    QTest::newRow("odd type decoded") << response(0x0115, mapped(1111, "203.0.113.9")) << "203.0.113.9" << 1111 << 1;
    QTest::newRow("error response") << response(0x0111, mapped(1111, "203.0.113.9")) << "" << 0 << 0;
    QTest::newRow("foreign id")
        << response(0x0101, mapped(1111, "203.0.113.9"), QByteArray::fromHex("0102030405060708090a0b0d")) << "" << 0 << 0;
    QTest::newRow("short datagram") << response(0x0101, QByteArray()).left(19) << "" << 0 << 0;
    QTest::newRow("message length 0") << response(0x0101, mapped(1111, "203.0.113.9"), testId, 0) << "" << 0 << 0;
    QTest::newRow("5-byte value, next attribute 12 bytes on")
        << response(0x0101, attr(0x8022, "abcde") + xorMapped(8080, "192.168.1.4")) << "192.168.1.4" << 8080 << 1;
    QTest::newRow("ipv6 skipped")
        << response(0x0101, attr(0x0020, QByteArray(1, '\0') + char(2) + u16(1) + QByteArray(16, '\x7f'))
                                + mapped(1111, "203.0.113.9"))
        << "203.0.113.9" << 1111 << 1;
    QTest::newRow("address value too short") << response(0x0101, attr(0x0001, address(1, 1111, 1).left(6))) << "" << 0 << 0;
    QTest::newRow("attribute past the datagram keeps the first")
        << response(0x0101, mapped(1111, "203.0.113.9") + mapped(2222, "203.0.113.10").left(10))
        << "203.0.113.9" << 1111 << 1;
    QTest::newRow("attribute past the message length")
        << response(0x0101, mapped(1111, "203.0.113.9"), testId, 8) << "" << 0 << 0;
    QTest::newRow("message length past the datagram")
        << response(0x0101, mapped(1111, "203.0.113.9"), testId, 400) << "203.0.113.9" << 1111 << 1;
    QTest::newRow("over-long attribute length")
        << response(0x0101, attr(0x0001, address(1, 1111, 1), 0xFFFF)) << "" << 0 << 0;
}

void TstStunClient::decoding()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, ip);
    QFETCH(int, port);
    QFETCH(int, decoded);

    StunClient client;
    client.transactionId = testId;
    client.stunIp = QStringLiteral("earlier");
    QSignalSpy done(&client, &StunClient::updatedStunSignal);

    QCOMPARE(client.processResponse(datagram), !ip.isEmpty());
    QCOMPARE(client.attributes.size(), decoded);
    if (ip.isEmpty()) {
        QCOMPARE(done.count(), 0);
        QCOMPARE(client.stunIp, QStringLiteral("earlier")); // a failure keeps the last result
        return;
    }
    QCOMPARE(done.count(), 1);
    QCOMPARE(done[0][0].toString(), ip);
    QCOMPARE(done[0][1].toInt(), port);
    QCOMPARE(client.stunIp, ip);
    QCOMPARE(client.stunPort, port);
    // current_addr follows the last address decoded
    const StunAttributeModel *last = client.attributes.last();
    QCOMPARE(client.getCurrent_addr().port, last->port);
    QCOMPARE(client.getCurrent_addr().address, last->address);
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

void TstStunClient::fakeServer_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("reported");

    QTest::newRow("success") << Reply([](const QByteArray &rq, const QNetworkDatagram &from) {
        return QList<QByteArray>{response(0x0101, xorMapped(quint16(from.senderPort()), "127.0.0.1"), rq.mid(8, 12))};
    }) << true;
    QTest::newRow("binding error response") << Reply([](const QByteArray &rq, const QNetworkDatagram &) {
        return QList<QByteArray>{response(0x0111, attr(0x0009, u32(0x00000401)), rq.mid(8, 12))};
    }) << false;
    QTest::newRow("foreign transaction id") << Reply([](const QByteArray &rq, const QNetworkDatagram &) {
        QByteArray id = rq.mid(8, 12);
        id[11] = char(id[11] ^ 1);
        return QList<QByteArray>{response(0x0101, mapped(1111, "203.0.113.9"), id)};
    }) << false;
    QTest::newRow("truncated attribute") << Reply([](const QByteArray &rq, const QNetworkDatagram &) {
        return QList<QByteArray>{response(0x0101, mapped(1111, "203.0.113.9"), rq.mid(8, 12)).left(30)};
    }) << false;
    QTest::newRow("silence until the limit") << Reply([](const QByteArray &, const QNetworkDatagram &) {
        return QList<QByteArray>{};
    }) << false;
}

void TstStunClient::fakeServer()
{
    QFETCH(Reply, reply);
    QFETCH(bool, reported);

    FakeStunServer server;
    server.reply = reply;
    StunClient client;
    client.setStunClient(server.url());
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    client.binding(); // returns at the latest when the wait is over
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(done.count(), reported ? 1 : 0);
    if (reported) {
        QCOMPARE(done[0][0].toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(done[0][1].toInt(), int(client.QUdpSocket::localPort()));
        QCOMPARE(done[0][2].toInt(), int(client.QUdpSocket::localPort()));
    }
}

// An answer that arrives after its lookup is over must not spoil the next one.
void TstStunClient::lateDuplicateAnswer()
{
    FakeStunServer server;
    server.reply = [](const QByteArray &rq, const QNetworkDatagram &) {
        const QByteArray answer = response(0x0101, mapped(1111, "203.0.113.9"), rq.mid(8, 12));
        return QList<QByteArray>{answer, answer};
    };
    StunClient client;
    client.setStunClient(server.url());
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    client.binding();
    client.binding();
    QCOMPARE(done.count(), 2);
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
    QCOMPARE(done[0][0].toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(done[0][1].toInt(), ownPort);
    QCOMPARE(done[0][2].toInt(), ownPort);

    // the socket keeps its port for later lookups
    client.binding();
    QCOMPARE(done.count(), 2);
    QCOMPARE(done[1][2].toInt(), ownPort);
}

QTEST_GUILESS_MAIN(TstStunClient)
#include "tst_stunclient.moc"
