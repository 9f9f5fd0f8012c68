// SIP over TCP: a message out, two messages and a ping in one segment, a framing error closes and the connection
// comes back after the delay. (TLS, its refusals and its wire: tst_phone callsOverTls and tlsRefused.)

#include "tcpsiptransport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {
const QByteArray registerMsg = "REGISTER sip:sip.test SIP/2.0\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";
const QByteArray okMsg = "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";

// Keeps what it read and writes to the newest connection.
class StreamServer : public QTcpServer
{
public:
    QByteArray received;
    QTcpSocket *peer = nullptr;
    int connections = 0;

    void incomingConnection(qintptr fd) override
    {
        ++connections;
        peer = new QTcpSocket(this);
        peer->setSocketDescriptor(fd);
        connect(peer, &QTcpSocket::readyRead, this, [this, s = peer] { received += s->readAll(); });
    }
};

} // namespace

class TstSipTransports : public QObject
{
    Q_OBJECT

private slots:
    void tcp()
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
};

QTEST_GUILESS_MAIN(TstSipTransports)
#include "tst_siptransports.moc"
