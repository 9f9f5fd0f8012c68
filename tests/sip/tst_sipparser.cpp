// Which datagrams become a delivered message and what the message holds:
// start lines, header values, the body rule, the line and header-count bounds, folding, trailing
// messages in one datagram, and a failing processSip not breaking the parser.

#include "capturingparser.h"
#include "sipcontentheader.h"
#include "sipfromheader.h"
#include "sipheader.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "sipuri.h"
#include "sipviaheader.h"

#include <QLoggingCategory>
#include <QtTest>

namespace {

const char *const okHeaders =
    "Via: SIP/2.0/UDP 10.0.0.5:5060;branch=z9hG4bKsrv\r\n"
    "From: <sip:200@10.0.0.5>;tag=srv1\r\n"
    "To: <sip:100@10.0.0.5>;tag=ua1\r\n"
    "Call-ID: abc123\r\n"
    "CSeq: 1 REGISTER\r\n";

QString crlf(const QString &lines) { return QString(lines).replace("\n", "\r\n"); }

} // namespace

class TstSipParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void delivery_data();
    void delivery();
    void startLines_data();
    void startLines();
    void headerValues();
    void body_data();
    void body();
    void lineBound();
    void headerCount();
    void foldedLine();
    void oneMessagePerDatagram();
    void failingProcessing();
    void utf8DisplayName();
};

void TstSipParser::delivery_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("delivered");

    const QString hdr = okHeaders;
    QTest::newRow("response") << "SIP/2.0 200 OK\r\n" + hdr + "Content-Length: 0\r\n\r\n" << true;
    QTest::newRow("request") << "OPTIONS sip:100@10.0.0.1 SIP/2.0\r\n" + hdr + "\r\n" << true;
    QTest::newRow("lower-case method") << "invite sip:100@10.0.0.1 SIP/2.0\r\n" + hdr + "\r\n" << false;
    QTest::newRow("unknown method") << "FETCH sip:100@10.0.0.1 SIP/2.0\r\n" + hdr + "\r\n" << false;
    QTest::newRow("SIP/3.0 request") << "BYE sip:100@10.0.0.1 SIP/3.0\r\n" + hdr + "\r\n" << false;
    QTest::newRow("SIP/3.0 response") << "SIP/3.0 200 OK\r\n" + hdr + "\r\n" << false;
    QTest::newRow("letter in status") << "SIP/2.0 20x OK\r\n" + hdr + "\r\n" << false;
    QTest::newRow("rejected request-URI") << "BYE SIP:100@10.0.0.1 SIP/2.0\r\n" + hdr + "\r\n" << false;
    QTest::newRow("no empty line") << "SIP/2.0 200 OK\r\n" + hdr << true;
    QTest::newRow("value cut off") << "SIP/2.0 200 OK\r\n" + hdr + "Expires: 60" << false;
    QTest::newRow("start line only") << "SIP/2.0 200 OK\r\n" << false;
    QTest::newRow("empty datagram") << QString() << false;
    QTest::newRow("keep-alive") << "\r\n\r\n" << false;
    QTest::newRow("nul in header name") << "SIP/2.0 200 OK\r\nVi" + QString(QChar(0)) + "a: x\r\n" + hdr << false;
    QTest::newRow("C1 control in value") << "SIP/2.0 200 OK\r\nSubject: a" + QString(QChar(0x90)) + "\r\n" + hdr << false;
    QTest::newRow("nul in body") << "SIP/2.0 200 OK\r\n" + hdr + "\r\nv=0" + QString(QChar(0)) + "\r\n" << false;
}

void TstSipParser::delivery()
{
    QFETCH(QString, text);
    QFETCH(bool, delivered);

    CapturingParser parser;
    QCOMPARE(parser.feed(text), delivered ? 1 : 0);
    if (delivered)
        QCOMPARE(parser.packets.first()->rawText, text);
}

void TstSipParser::startLines_data()
{
    QTest::addColumn<QString>("startLine");
    QTest::addColumn<int>("packetType");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("statusCode");
    QTest::addColumn<QString>("reasonPhrase");
    QTest::addColumn<QString>("requestUri");

    QTest::newRow("200 OK") << "SIP/2.0 200 OK" << 2 << "" << "200" << "OK" << "";
    QTest::newRow("486 Busy Here") << "SIP/2.0 486 Busy Here" << 2 << "" << "486" << "Busy Here" << "";
    QTest::newRow("INVITE") << "INVITE sip:100@10.0.0.1:5070;transport=udp SIP/2.0" << 1 << "INVITE"
                            << "" << "" << "sip:100@10.0.0.1:5070";
    QTest::newRow("tel ACK") << "ACK tel:+123 SIP/2.0" << 1 << "ACK" << "" << "" << "tel:+123";
}

void TstSipParser::startLines()
{
    QFETCH(QString, startLine);
    QFETCH(int, packetType);

    CapturingParser parser;
    QCOMPARE(parser.feed(startLine + "\r\n" + okHeaders + "Content-Length: 0\r\n\r\n"), 1);
    SipPacket *m = parser.packets.first();
    QCOMPARE(m->packetType, packetType);
    QCOMPARE(m->version, QString("SIP/2.0"));
    QTEST(m->method, "method");
    QTEST(m->statusCode, "statusCode");
    QTEST(m->reasonPhrase, "reasonPhrase");
    QTEST(m->requestUri ? m->requestUri->toString() : QString(), "requestUri");
    QCOMPARE(m->serverIp, QString("127.0.0.1"));
    QCOMPARE(m->serverPort, QString("5060"));
}

void TstSipParser::headerValues()
{
    CapturingParser parser;
    QCOMPARE(parser.feed(crlf("SIP/2.0 200 OK\n"
                              "Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa,SIP/2.0/UDP 10.0.0.6;branch=z9hG4bKb\n"
                              "Subject:\n"
                              "Expires:    60\n"
                              "X-Lf: one")
                         + "\ntwo\r\nContent-Length: 0\r\n\r\n"),
             1);
    SipPacket *m = parser.packets.first();

    // two Via values, two Via objects in order
    QCOMPARE(m->getHeaderString("via", 1), QString("SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa"));
    auto *second = static_cast<SipViaHeader *>(m->headers.at(1));
    QCOMPARE(second->headerType, int(SipHeader::Via));
    QCOMPARE(second->branch, QString("z9hG4bKb"));

    QVERIFY(m->getHeader("Subject"));
    QCOMPARE(m->getHeaderString("Subject", 1), QString());
    QCOMPARE(m->getHeaderString("Expires", 1), QString("60"));
    // without a CR the LF is part of the value, which runs to the next CR
    QCOMPARE(m->getHeaderString("X-Lf", 1), QString("one\ntwo"));
    QVERIFY(!m->getHeader("Content"));
}

void TstSipParser::body_data()
{
    QTest::addColumn<QString>("tail");
    QTest::addColumn<bool>("hasBody");
    QTest::addColumn<QString>("body");

    QTest::newRow("length 0, no body") << "Content-Length: 0\r\n\r\n" << false << "";
    QTest::newRow("no length, empty body") << "\r\n" << true << "";
    QTest::newRow("body longer than its length")
        << "Content-Length: 5\r\n\r\nv=0\r\nm=audio 4000 RTP/AVP 0\r\n" << true << "v=0\r\nm=audio 4000 RTP/AVP 0";
    QTest::newRow("compact length with body")
        << "l: 20\r\n\r\nv=0\r\nc=IN IP4 10.1.2.3\r\n" << true << "v=0\r\nc=IN IP4 10.1.2.3";
}

void TstSipParser::body()
{
    QFETCH(QString, tail);
    QFETCH(bool, hasBody);
    QFETCH(QString, body);

    CapturingParser parser;
    QCOMPARE(parser.feed(QString("SIP/2.0 200 OK\r\n") + okHeaders + tail), 1);
    SipHeader *content = parser.packets.first()->getHeader("Content");
    QCOMPARE(content != nullptr, hasBody);
    if (content) {
        QCOMPARE(content->headerType, int(SipHeader::Content));
        QCOMPARE(content->headerValue, body);
    }
}

void TstSipParser::lineBound()
{
    CapturingParser parser;
    const QString head = QString("SIP/2.0 200 OK\r\n") + okHeaders;
    // a long but bounded line is fine, also after many header lines
    QCOMPARE(parser.feed(head + head.mid(16).repeated(60) + "X-Long: " + QString(9000, 'a') + "\r\n\r\n"), 1);
    // 10001 characters before the line feed
    QCOMPARE(parser.feed(head + "X-Long: " + QString(10001 - 8, 'a') + "\r\n\r\n"), 0);
    QCOMPARE(parser.feed(head + "\r\n" + QString(10001, 'b')), 0);
}

void TstSipParser::headerCount()
{
    CapturingParser parser;
    const QString head = QString("SIP/2.0 200 OK\r\n") + okHeaders;
    // 995 more header objects, three of them from one Via list: 1000 in all
    QCOMPARE(parser.feed(head + "Via: a,b,c\r\n" + QString("X:\r\n").repeated(991) + "l: 0\r\n\r\n"), 1);
    QCOMPARE(parser.packets.first()->headers.size(), 1000);
    QCOMPARE(parser.feed(head + "Via: a,b,c,d\r\n" + QString("X:\r\n").repeated(991) + "l: 0\r\n\r\n"), 0);
    QCOMPARE(parser.feed(head + "Via: " + QString(",").repeated(1000) + "\r\n\r\n"), 0);
}

void TstSipParser::foldedLine()
{
    CapturingParser parser;
    QCOMPARE(parser.feed(QString("SIP/2.0 200 OK\r\n") + okHeaders
                         + "Subject: first\r\n  second\r\n\tthird\r\nContact:\r\n <sip:100@10.0.0.1>\r\n"
                           "Content-Length: 0\r\n\r\n"),
             1);
    SipPacket *m = parser.packets.first();
    QCOMPARE(m->getHeaderString("Subject", 1), QString("first second third"));
    QCOMPARE(m->getHeaderString("Contact", 1), QString("<sip:100@10.0.0.1>"));
    QCOMPARE(m->headers.size(), 8);
}

void TstSipParser::oneMessagePerDatagram()
{
    CapturingParser parser;
    const QString first = QString("SIP/2.0 100 Trying\r\n") + okHeaders + "Content-Length: 0\r\n\r\n";
    QCOMPARE(parser.feed(first + "SIP/2.0 180 Ringing\r\n" + okHeaders + "Content-Length: 0\r\n\r\n"), 1);
    QCOMPARE(parser.packets.first()->statusCode, QString("100"));
    QCOMPARE(parser.feed(first + "BYE sip:100@10.0.0.1 SIP/2.0\r\n" + okHeaders + "\r\n"), 1);
    QCOMPARE(parser.packets.first()->packetType, 2);
}

void TstSipParser::failingProcessing()
{
    CapturingParser parser;
    parser.throwOnDelivery = true;
    const QString text = QString("SIP/2.0 200 OK\r\n") + okHeaders + "Content-Length: 0\r\n\r\n";
    QCOMPARE(parser.feed(text), 1);
    // the parser is still usable and starts afresh
    QCOMPARE(parser.feed(text), 1);
    QCOMPARE(parser.packets.first()->getHeaderString("CSeq", 1), QString("1 REGISTER"));
}

void TstSipParser::utf8DisplayName()
{
    CapturingParser parser;
    const QString text = QString::fromUtf8("INVITE sip:100@10.0.0.1 SIP/2.0\r\n"
                                           "Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKx\r\n"
                                           "From: \"José Müller\" <sip:200@10.0.0.5>;tag=1\r\n"
                                           "To: <sip:100@10.0.0.1>\r\n"
                                           "Subject: звонок ☎\r\n"
                                           "Content-Length: 0\r\n\r\n");
    QCOMPARE(parser.feed(text), 1);
    SipPacket *m = parser.packets.first();
    QCOMPARE(m->method, QString("INVITE"));
    QCOMPARE(static_cast<SipAddressHeader *>(m->getHeader("From"))->name, QString::fromUtf8("José Müller"));
    QCOMPARE(m->getHeaderString("Subject", 1), QString::fromUtf8("звонок ☎"));
}

QTEST_GUILESS_MAIN(TstSipParser)
#include "tst_sipparser.moc"
