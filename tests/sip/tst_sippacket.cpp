// Byte-exact wire text of built and parsed messages (header order, Content-Length
// last, the body after the empty line), builder value forms, header list
// operations, copies, and the SDP values read from a body.

#include "capturingparser.h"
#include "sipcontentheader.h"
#include "sipcseqheader.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "sipviaheader.h"

#include <QLoggingCategory>
#include <QtTest>
#include <memory>

class TstSipPacket : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void serialisation_data();
    void serialisation();
    void addressForms_data();
    void addressForms();
    void headerList();
    void roundTrip_data();
    void roundTrip();
    void copies();
    void sdp_data();
    void sdp();
};

void TstSipPacket::serialisation_data()
{
    // Headers as "name=value" separated by "|", added in order to a 180 response.
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("wire");

    QTest::newRow("length moved last, body after empty line")
        << "Content-Length=7|Content=v=0 x|CSeq=1 INVITE"
        << "SIP/2.0 180 Ringing\r\nCSeq: 1 INVITE\r\nContent-Length: 7\r\n\r\nv=0 x\r\n";
    QTest::newRow("body without length") << "Content=v=0" << "SIP/2.0 180 Ringing\r\n\r\nv=0\r\n";
    QTest::newRow("last length wins") << "Content-Length=1|Content-Length=2|Y=y"
                                      << "SIP/2.0 180 Ringing\r\nY: y\r\nContent-Length: 2\r\n\r\n";
    QTest::newRow("only exact names are set aside") << "content-length=3|CONTENT=z"
                                                    << "SIP/2.0 180 Ringing\r\ncontent-length: 3\r\n\r\nz\r\n";
}

void TstSipPacket::serialisation()
{
    QFETCH(QString, headers);
    QFETCH(QString, wire);

    CapturingParser parser;
    SipResponse response(&parser);
    response.statusCode = "180";
    response.reasonPhrase = "Ringing";
    for (const QString &h : headers.split('|', Qt::SkipEmptyParts))
        response.addHeader(h.section('=', 0, 0), h.section('=', 1));
    QCOMPARE(response.toString(), wire);
    QCOMPARE(static_cast<SipPacket &>(response).toString(), wire);
}

void TstSipPacket::addressForms_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("value");

    QTest::newRow("from no port, no tag") << "From" << "" << "" << "<sip:100@10.0.0.1>";
    QTest::newRow("contact other port, tag") << "Contact" << "5062" << "t" << "<sip:100@10.0.0.1:5062;transport=udp>;tag=t";
    QTest::newRow("via other port") << "Via" << "5070" << "b" << "SIP/2.0/UDP 10.0.0.1:5070;rport;branch=b";
    QTest::newRow("placeholders in values stay text") << "From" << "5070" << "%1" << "<sip:100@10.0.0.1:5070>;tag=%1";
}

void TstSipPacket::addressForms()
{
    QFETCH(QString, header);
    QFETCH(QString, port);
    QFETCH(QString, tag);
    QFETCH(QString, value);

    CapturingParser parser;
    SipRequest r(&parser, "BYE", "sip:10.0.0.1", "");
    if (header == "From")
        r.addFrom("100", "10.0.0.1", port, tag);
    else if (header == "To")
        r.addTo("100", "10.0.0.1", port, tag);
    else if (header == "Contact")
        r.addContact("100", "10.0.0.1", port, tag);
    else
        r.addVia("10.0.0.1", port, tag);
    const QMap<QString, QString> stored{{"From", r.from}, {"To", r.to}, {"Contact", r.contact}, {"Via", r.via}};
    QCOMPARE(stored.value(header), value);
    QCOMPARE(r.getHeaderString(header, 1), value);
}

void TstSipPacket::headerList()
{
    CapturingParser parser;
    SipPacket p(&parser);
    p.addHeader("Via", "a,b");
    p.addHeader("Route", "a,b");
    p.addCSeq("2", "INVITE");
    p.addHeader("via", "c");

    // a Via list becomes one object per value, other lists stay whole; names match in any case
    QCOMPARE(p.headers.size(), 5);
    QCOMPARE(p.getHeaderString("VIA", 2) + p.getHeaderString("Route", 1) + p.getHeaderString("CSeq", 2), QString("ba,b"));
    p.deleteHeader("Via", 2);
    p.deleteHeader("Via", 5); // no such header: nothing happens
    QCOMPARE(p.headers.size(), 4);
    QCOMPARE(p.getHeaderString("Via", 2), QString("c"));

    // the text changes, the typed fields still describe the old value
    p.modifyHeader("cseq", 1, "3 BYE");
    auto *cseq = static_cast<SipCseqHeader *>(p.getHeader("CSeq"));
    QCOMPARE(cseq->headerValue, QString("3 BYE"));
    QCOMPARE(cseq->number, QString("2"));

    // an unknown method is not kept; the request still serialises
    SipRequest odd(&parser, "FETCH", "sip:h", ";x");
    QCOMPARE(odd.method, QString());
    QCOMPARE(odd.toString(), QString(" sip:h;x SIP/2.0\r\n\r\n"));
}

void TstSipPacket::roundTrip_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("invite with sdp") << "INVITE sip:100@10.0.0.1:5070 SIP/2.0\r\n"
                                        "Via: SIP/2.0/UDP 10.0.0.5:5060;branch=z9hG4bK776asdhds;rport\r\n"
                                        "To: <sip:100@10.0.0.1>\r\n"
                                        "From: \"Bob\" <sip:200@10.0.0.5>;tag=1928301774\r\n"
                                        "CSeq: 314159 INVITE\r\n"
                                        "Content-Type: application/sdp\r\n"
                                        "Content-Length: 59\r\n\r\n"
                                        "v=0\r\nc=IN IP4 10.0.0.5\r\nm=audio 49170 RTP/AVP 0 8\r\na=ptime:20\r\n";
    QTest::newRow("401 challenge")
        << "SIP/2.0 401 Unauthorized\r\n"
           "Via: SIP/2.0/UDP 10.0.0.1:5070;rport=5070;branch=z9hG4bKq;received=10.0.0.1\r\n"
           "CSeq: 1 REGISTER\r\n"
           "WWW-Authenticate: Digest realm=\"asterisk\", nonce=\"1a2b\", algorithm=MD5, qop=\"auth\"\r\n"
           "Content-Length: 0\r\n\r\n";
}

void TstSipPacket::roundTrip()
{
    QFETCH(QString, text);

    CapturingParser parser;
    QCOMPARE(parser.feed(text), 1);
    SipPacket *m = parser.packets.first();
    // the parser makes requests and responses of their own classes
    const QString wire = m->packetType == 1 ? static_cast<SipRequest *>(m)->toString()
                                            : static_cast<SipResponse *>(m)->toString();
    QCOMPARE(wire, text);
}

void TstSipPacket::copies()
{
    CapturingParser parser;
    QCOMPARE(parser.feed("INVITE sip:100@10.0.0.1 SIP/2.0\r\n"
                         "v: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa, SIP/2.0/UDP 10.0.0.6;branch=z9hG4bKb\r\n"
                         "CSeq: 7 INVITE\r\n\r\nv=0\r\nm=audio 4000 RTP/AVP 0\r\n"),
             1);
    std::unique_ptr<SipRequest> request(parser.cloneSipRequest(parser.packets.first()));
    std::unique_ptr<SipPacket> response(parser.cloneSipResponse(parser.packets.first()));
    response->statusCode = "200";
    response->reasonPhrase = "OK";
    parser.feed(QString()); // the copies outlive the original, typed fields included
    QCOMPARE(request->packetType, 1);
    QCOMPARE(static_cast<SipViaHeader *>(request->headers.at(1))->branch, QString("z9hG4bKb"));
    QCOMPARE(response->packetType, 2);
    QCOMPARE(response->toString(), QString("SIP/2.0 200 OK\r\n"
                                           "Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa\r\n"
                                           "Via: SIP/2.0/UDP 10.0.0.6;branch=z9hG4bKb\r\n"
                                           "CSeq: 7 INVITE\r\n\r\nv=0\r\nm=audio 4000 RTP/AVP 0\r\n"));
}

void TstSipPacket::sdp_data()
{
    QTest::addColumn<QString>("body");
    // sdpPort|sdpIp|codec[0]|codec[1]|number of lines
    QTest::addColumn<QString>("expected");

    QTest::newRow("defaults") << "v=0\r\ns=-\r\n" << "10000|127.0.0.1|8|0|2";
    QTest::newRow("three payload types") << "m=audio 40000 RTP/AVP 0 8 101\r\n" << "40000|127.0.0.1|0|8|1";
    QTest::newRow("media-level connection wins")
        << "c=IN IP4 10.0.0.1\r\nm=audio 5000 RTP/AVP 0\r\nc=IN IP4 10.0.0.2\r\n" << "5000|10.0.0.2|0|0|3";
    QTest::newRow("ipv6 and video ignored") << "c=IN IP6 ::1\r\nm=video 6000 RTP/AVP 31\r\n" << "10000|127.0.0.1|8|0|2";
    QTest::newRow("unterminated last line lost") << "c=IN IP4 10.0.0.1\r\nm=audio 7000 RTP/AVP 0" << "10000|10.0.0.1|8|0|1";
    QTest::newRow("short lines keep defaults") << "m=audio\r\nc=IN IP4\r\n" << "10000|127.0.0.1|8|0|2";
    QTest::newRow("line without = joins the next key") << "x\r\nm=audio 6000 RTP/AVP 0\r\n" << "10000|127.0.0.1|8|0|1";
    QTest::newRow("foreign characters dropped")
        << QString("m=audio 4") + QChar(0) + QChar(0x85) + "2000 RTP/AVP 0\n" << "42000|127.0.0.1|0|0|1";
}

void TstSipPacket::sdp()
{
    QFETCH(QString, body);
    QFETCH(QString, expected);

    SipContentHeader content(nullptr, "Content", body);
    const QStringList got{content.sdpPort, content.sdpIp, content.codec[0], content.codec[1],
                          QString::number(content.sdpLines.size())};
    QCOMPARE(got.join('|'), expected);
}

QTEST_GUILESS_MAIN(TstSipPacket)
#include "tst_sippacket.moc"
