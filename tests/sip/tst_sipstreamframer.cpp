// A SIP byte stream becomes the same messages whole or byte by byte (every split point); pings are counted and
// pongs skipped; a missing or bad Content-Length, an endless line or header section and an oversized body break it.
// Over TCP: a message out, two messages and a ping in one segment (the ping answered with a pong), and a framing
// error closes the connection, which comes back after the delay. (TLS, its refusals and its wire: tst_phone.)

#include "sipmessageparser.h"
#include "sipstreamframer.h"
#include "tcpsiptransport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {
const QByteArray registerMsg = "REGISTER sip:sip.test SIP/2.0\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";
const QByteArray inviteMsg = "INVITE sip:100@sip.test SIP/2.0\r\nl:  5\r\n\r\nv=0\r\n";
const QByteArray start = "INVITE sip:100@sip.test SIP/2.0\r\n";
const QByteArray okMsg = "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\nContent-Length: 0\r\n\r\n";
} // namespace

class TstSipStreamFramer : public QObject
{
    Q_OBJECT

private slots:
    void streams_data()
    {
        // The stream; how many of the REGISTER and then the INVITE come out of it; the pings; what the error names.
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("messages");
        QTest::addColumn<int>("pings");
        QTest::addColumn<QString>("error");
        QTest::newRow("ping between messages") << registerMsg + "\r\n\r\n" + inviteMsg << 2 << 1 << "";
        QTest::newRow("two pings") << QByteArray("\r\n\r\n\r\n\r\n") << 0 << 2 << "";
        QTest::newRow("pongs skipped") << "\r\n" + registerMsg + "\r\n" + inviteMsg << 2 << 0 << "";
        QTest::newRow("body still coming") << registerMsg + inviteMsg.chopped(1) << 1 << 0 << "";
        QTest::newRow("no Content-Length") << registerMsg + start + "CSeq: 2 INVITE\r\n\r\n" << 1 << 0 << "Content-Length";
        QTest::newRow("Content-Length not a number") << start + "Content-Length: 5x\r\n\r\nhello" << 0 << 0 << "Content-Length";
        QTest::newRow("two Content-Lengths disagree") << start + "l: 1\r\nContent-Length: 2\r\n\r\nab" << 0 << 0 << "Content-Length";
        QTest::newRow("endless line") << start + QByteArray(sipMaxLineLength + 1, 'a') << 0 << 0 << "line";
        QTest::newRow("endless header lines") << start + QByteArray("X: y\r\n").repeated(sipMaxHeaders + 1) << 0 << 0 << "header lines";
        QTest::newRow("endless header section") << start + (QByteArray(999, 'h') + "\r\n").repeated(66) << 0 << 0 << "header section";
        QTest::newRow("oversized body") << start + "Content-Length: 65536\r\n\r\n" << 0 << 0 << "body";
        QTest::newRow("nothing after a broken message") << start + "\r\n" + registerMsg << 0 << 0 << "Content-Length";
    }

    // Fed whole and byte by byte; what is held never exceeds the bounds.
    void streams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, messages);
        QFETCH(QString, error);
        for (const int step : {stream.size(), 1}) {
            SipStreamFramer framer;
            QList<QByteArray> got;
            int pinged = 0;
            for (int at = 0; at < stream.size(); at += step) {
                framer.feed(stream.mid(at, step));
                got += framer.takeMessages();
                pinged += framer.takePings();
                QVERIFY(framer.buffered() <= SipStreamFramer::maxHeaderBytes + SipStreamFramer::maxBodyBytes);
            }
            QCOMPARE(got, (QList<QByteArray>{registerMsg, inviteMsg}.mid(0, messages)));
            QTEST(pinged, "pings");
            QCOMPARE(framer.failed(), !error.isEmpty());
            QVERIFY2(framer.error().contains(error), qPrintable(framer.error()));
        }
    }

    void tcp()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        TcpSipTransport transport;
        transport.setReconnectDelay(200);
        transport.setServer("sip.test", QHostAddress::LocalHost, server.serverPort());
        QSignalSpy messages(&transport, &SipTransport::messageReceived), pings(&transport, &TcpSipTransport::pingReceived),
            errors(&transport, &SipTransport::transportError);
        transport.sendMessage(registerMsg);
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        QByteArray received;
        QTRY_COMPARE(received += peer->readAll(), registerMsg);
        QVERIFY(transport.localPort() != 0);
        peer->write(okMsg + "\r\n\r\n" + okMsg);
        QTRY_COMPARE(messages.count(), 2);
        QCOMPARE(messages.at(1).at(0).toByteArray() + QByteArray::number(pings.count()), okMsg + "1");
        QTRY_COMPARE(received += peer->readAll(), registerMsg + "\r\n");
        // No Content-Length on a stream: the connection goes, and comes back by itself.
        peer->write("SIP/2.0 200 OK\r\nCSeq: 2 REGISTER\r\n\r\n");
        QTRY_COMPARE(errors.count(), 1);
        QVERIFY2(errors.at(0).at(0).toString().contains("Content-Length"), qPrintable(errors.at(0).at(0).toString()));
        QCOMPARE(messages.count(), 2);
        QTRY_VERIFY(server.hasPendingConnections());
    }
};

QTEST_GUILESS_MAIN(TstSipStreamFramer)
#include "tst_sipstreamframer.moc"
