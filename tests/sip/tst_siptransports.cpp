// SIP over TCP: a message out, two messages and a ping in one segment, a framing error closes and the connection
// comes back after the delay. SIP over TLS: only the right certificate carries a message; a wrong name, an expired
// certificate and an unknown CA each give their reason, and no byte of SIP ever crosses the wire in clear.

#include "fixturetable.h"
#include "tcptap.h"
#include "testca.h"
#include "tlssiptransport.h"

#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QtTest>

namespace {
const QByteArray registerMsg = "REGISTER sip:sip.test SIP/2.0\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";
const QByteArray okMsg = "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";

// The server end: plain TCP, or TLS with a certificate. Keeps what it read
// (decrypted) and writes to the newest connection.
class StreamServer : public QTcpServer
{
public:
    QString cert, key;
    QByteArray received;
    QSslSocket *peer = nullptr;
    int connections = 0;

    void incomingConnection(qintptr fd) override
    {
        ++connections;
        peer = new QSslSocket(this);
        peer->setSocketDescriptor(fd);
        connect(peer, &QSslSocket::readyRead, this, [this, s = peer] { received += s->readAll(); });
        if (cert.isEmpty())
            return;
        peer->setLocalCertificate(cert);
        peer->setPrivateKey(key, QSsl::Ec);
        peer->startServerEncryption();
    }
};

} // namespace

class TstSipTransports : public QObject
{
    Q_OBJECT

    TestCa ca;

private slots:
    void initTestCase()
    {
        QVERIFY(ca.create());
        QVERIFY(!ca.issue("right", "sip.test").isEmpty());
        QVERIFY(!ca.issue("wrongname", "other.test").isEmpty());
        QVERIFY(!ca.issue("expired", "sip.test", true).isEmpty());
        QVERIFY(!ca.issue("unknownca", "sip.test", false, true).isEmpty());
    }
    void tcp();
    void tls_data() { fixtureRows("sip/tls-certificates.txt"); }
    void tls();
};

void TstSipTransports::tcp()
{
    StreamServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpSipTransport transport;
    transport.setReconnectDelay(200);
    transport.setServer("sip.test", QHostAddress::LocalHost, server.serverPort());
    QSignalSpy messages(&transport, &SipTransport::messageReceived), pings(&transport, &TcpSipTransport::pingReceived),
        errors(&transport, &SipTransport::transportError);

    transport.sendMessage(registerMsg);
    QTRY_COMPARE(server.received, registerMsg);
    QVERIFY(transport.localPort() != 0);
    server.peer->write(okMsg + "\r\n\r\n" + okMsg);
    QTRY_COMPARE(messages.count(), 2);
    QCOMPARE(messages.at(1).at(0).toByteArray(), okMsg);
    QCOMPARE(pings.count(), 1);
    QTRY_COMPARE(server.received, registerMsg + "\r\n");

    // No Content-Length on a stream: the connection goes, and comes back by itself.
    server.peer->write("SIP/2.0 200 OK\r\nCSeq: 2 REGISTER\r\n\r\n");
    QTRY_COMPARE(errors.count(), 1);
    QVERIFY2(errors.at(0).at(0).toString().contains("Content-Length"), qPrintable(errors.at(0).at(0).toString()));
    QCOMPARE(messages.count(), 2);
    QTRY_COMPARE(server.connections, 2);
}

void TstSipTransports::tls()
{
    QFETCH(QString, cert);
    QFETCH(QString, reason);

    StreamServer server;
    server.cert = ca.path(cert + ".pem");
    server.key = ca.path(cert + ".key");
    QVERIFY(server.listen(QHostAddress::LocalHost));
    TcpTap tap(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(tap.listen(QHostAddress::LocalHost));
    TlsSipTransport transport;
    QVERIFY(!transport.setCaFile(ca.path("missing.pem")));
    QVERIFY(transport.setCaFile(ca.caFile()));
    transport.setReconnectDelay(200);
    transport.setServer("sip.test", QHostAddress::LocalHost, tap.serverPort());
    QSignalSpy messages(&transport, &SipTransport::messageReceived), errors(&transport, &SipTransport::transportError);

    transport.sendMessage(registerMsg);
    if (reason.isEmpty()) {
        QTRY_COMPARE(server.received, registerMsg);
        server.peer->write(okMsg);
        QTRY_COMPARE(messages.count(), 1);
        QCOMPARE(errors.count(), 0);
    } else {
        QTRY_VERIFY(errors.count() >= 1);
        QVERIFY2(errors.at(0).at(0).toString().contains(reason), qPrintable(errors.at(0).at(0).toString()));
        // The retry after the delay is refused in the same way.
        QTRY_VERIFY(tap.connections >= 2 && errors.count() >= 2);
        QCOMPARE(server.received, QByteArray());
    }
    QVERIFY(!tap.wire.isEmpty());
    QVERIFY(!tap.wire.contains("REGISTER") && !tap.wire.contains("SIP/2.0"));
}

QTEST_GUILESS_MAIN(TstSipTransports)
#include "tst_siptransports.moc"
