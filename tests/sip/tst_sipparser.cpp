// Which datagrams become a delivered message and what it holds: start lines, header values, the body
// rule, the line and header-count bounds, folding, one message per datagram, a failing processSip.

#include "capturingparser.h"
#include "sipheader.h"
#include "sippacket.h"
#include "sipfromheader.h"
#include "sipuri.h"
#include "sipviaheader.h"

#include <QLoggingCategory>
#include <QtTest>

namespace {
const QString okHeaders = "Via: SIP/2.0/UDP 10.0.0.5:5060;branch=z9hG4bKsrv\r\n"
                          "From: <sip:200@10.0.0.5>;tag=srv1\r\n"
                          "To: <sip:100@10.0.0.5>;tag=ua1\r\n"
                          "CSeq: 1 REGISTER\r\n";
const QString ok = "SIP/2.0 200 OK\r\n" + okHeaders;
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
    void bounds();
    void failingProcessing();
};

void TstSipParser::delivery_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("delivered");

    const QString nul(QChar(0));
    QTest::newRow("request") << "OPTIONS sip:100@10.0.0.1 SIP/2.0\r\n" + okHeaders + "\r\n" << 1;
    QTest::newRow("unknown method") << "FETCH sip:100@10.0.0.1 SIP/2.0\r\n" + okHeaders + "\r\n" << 0;
    QTest::newRow("SIP/3.0 request") << "BYE sip:100@10.0.0.1 SIP/3.0\r\n" + okHeaders + "\r\n" << 0;
    QTest::newRow("letter in status") << "SIP/2.0 20x OK\r\n" + okHeaders + "\r\n" << 0;
    QTest::newRow("rejected request-URI") << "BYE SIP:100@10.0.0.1 SIP/2.0\r\n" + okHeaders + "\r\n" << 0;
    QTest::newRow("no empty line") << ok << 1;
    QTest::newRow("value cut off") << ok + "Expires: 60" << 0;
    QTest::newRow("keep-alive") << "\r\n\r\n" << 0;
    QTest::newRow("C1 control in value") << "SIP/2.0 200 OK\r\nSubject: a" + QString(QChar(0x90)) + "\r\n" + okHeaders << 0;
    QTest::newRow("nul in body") << ok + "\r\nv=0" + nul + "\r\n" << 0;
    QTest::newRow("utf-8 caller name")
        << QString::fromUtf8("INVITE sip:100@10.0.0.1 SIP/2.0\r\nFrom: \"José Müller\" <sip:200@10.0.0.5>;tag=1\r\n"
                             "Subject: звонок ☎\r\n\r\n")
        << 1;
}

void TstSipParser::delivery()
{
    QFETCH(QString, text);
    QFETCH(int, delivered);

    CapturingParser parser;
    QCOMPARE(parser.feed(text), delivered);
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

    QTest::newRow("486 Busy Here") << "SIP/2.0 486 Busy Here" << 2 << "" << "486" << "Busy Here" << "";
    QTest::newRow("INVITE") << "INVITE sip:100@10.0.0.1:5070;transport=udp SIP/2.0" << 1 << "INVITE" << "" << ""
                            << "sip:100@10.0.0.1:5070";
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
    QCOMPARE(parser.feed("SIP/2.0 200 OK\r\n"
                         "Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa,SIP/2.0/UDP 10.0.0.6;branch=z9hG4bKb\r\n"
                         "From: \"José\" <sip:200@10.0.0.5>;tag=1\r\n"
                         "Subject: first\r\n  second\r\n\tthird\r\n"
                         "Expires:    60\r\n"
                         "X-Lf: one\ntwo\r\n"
                         "Contact:\r\n <sip:100@10.0.0.1>\r\n"
                         "Content-Length: 0\r\n\r\n"),
             1);
    SipPacket *m = parser.packets.first();
    QCOMPARE(m->headers.size(), 8);
    // two Via values, two Via objects in order
    QCOMPARE(m->getHeaderString("via", 1), QString("SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa"));
    QCOMPARE(static_cast<SipViaHeader *>(m->headers.at(1))->branch, QString("z9hG4bKb"));
    QCOMPARE(static_cast<SipAddressHeader *>(m->getHeader("From"))->name, QString::fromUtf8("José"));
    // folded lines join with one space each
    QCOMPARE(m->getHeaderString("Subject", 1), QString("first second third"));
    QCOMPARE(m->getHeaderString("Contact", 1), QString("<sip:100@10.0.0.1>"));
    QCOMPARE(m->getHeaderString("Expires", 1), QString("60"));
    // without a CR the LF is part of the value, which runs to the next CR
    QCOMPARE(m->getHeaderString("X-Lf", 1), QString("one\ntwo"));
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
    QTest::newRow("compact length with body") << "l: 20\r\n\r\nv=0\r\nc=IN IP4 10.1.2.3\r\n" << true
                                              << "v=0\r\nc=IN IP4 10.1.2.3";
}

void TstSipParser::body()
{
    QFETCH(QString, tail);
    QFETCH(bool, hasBody);
    QFETCH(QString, body);

    CapturingParser parser;
    QCOMPARE(parser.feed(ok + tail), 1);
    SipHeader *content = parser.packets.first()->getHeader("Content");
    QCOMPARE(content != nullptr, hasBody);
    if (content) {
        QCOMPARE(content->headerType, int(SipHeader::Content));
        QCOMPARE(content->headerValue, body);
    }
}

void TstSipParser::bounds()
{
    CapturingParser parser;
    // a long but bounded line is fine, also after many header lines
    QCOMPARE(parser.feed(ok + okHeaders.repeated(60) + "X-Long: " + QString(9000, 'a') + "\r\n\r\n"), 1);
    // 10001 characters before the line feed, in a header or in the body
    QCOMPARE(parser.feed(ok + "X-Long: " + QString(10001 - 8, 'a') + "\r\n\r\n"), 0);
    QCOMPARE(parser.feed(ok + "\r\n" + QString(10001, 'b')), 0);
    // 1000 header objects pass, three of them from one Via list; 1001 do not
    QCOMPARE(parser.feed(ok + "Via: a,b,c\r\n" + QString("X:\r\n").repeated(992) + "l: 0\r\n\r\n"), 1);
    QCOMPARE(parser.packets.first()->headers.size(), 1000);
    QCOMPARE(parser.feed(ok + "Via: a,b,c,d\r\n" + QString("X:\r\n").repeated(992) + "l: 0\r\n\r\n"), 0);
    QCOMPARE(parser.feed(ok + "Via: " + QString(",").repeated(1000) + "\r\n\r\n"), 0);
}

void TstSipParser::failingProcessing()
{
    CapturingParser parser;
    parser.throwOnDelivery = true;
    QCOMPARE(parser.feed(ok + "\r\n"), 1);
    // the parser is still usable and starts afresh
    QCOMPARE(parser.feed(ok + "\r\n"), 1);
    QCOMPARE(parser.packets.first()->getHeaderString("CSeq", 1), QString("1 REGISTER"));
    // only the first message of a datagram counts
    QCOMPARE(parser.feed(ok + "\r\nBYE sip:100@10.0.0.1 SIP/2.0\r\n" + okHeaders + "\r\n"), 1);
    QCOMPARE(parser.packets.first()->packetType, 2);
}

QTEST_GUILESS_MAIN(TstSipParser)
#include "tst_sipparser.moc"
