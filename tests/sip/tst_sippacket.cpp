// Byte-exact wire text of built messages (header order, Content-Length last, the body after the empty
// line), the builders' address forms, header list operations, copies, and the SDP values of a body.

#include "capturingparser.h"
#include "fixturetable.h"
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
    void serialisation_data() { fixtureRows("sip/built.txt"); }
    void serialisation();
    void addressForms_data() { fixtureRows("sip/addresses.txt"); }
    void addressForms();
    void headerList();
    void copies();
    void sdp_data() { fixtureRows("sip/sdp.txt"); }
    void sdp();
};

void TstSipPacket::serialisation()
{
    QFETCH(QString, headers);
    QFETCH(QString, wire);

    CapturingParser parser;
    SipResponse response(&parser);
    response.statusCode = "180";
    response.reasonPhrase = "Ringing";
    for (const QString &h : headers.split('|'))
        response.addHeader(h.section('=', 0, 0), h.section('=', 1));
    QCOMPARE(response.toString(), wire);
    QCOMPARE(static_cast<SipPacket &>(response).toString(), wire);
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
    else if (header == "Contact")
        r.addContact("100", "10.0.0.1", port, tag);
    else
        r.addVia("10.0.0.1", port, tag);
    const QMap<QString, QString> stored{{"From", r.from}, {"Contact", r.contact}, {"Via", r.via}};
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
    QCOMPARE(cseq->headerValue + "/" + cseq->number, QString("3 BYE/2"));

    // an unknown method is not kept; the request still serialises
    SipRequest odd(&parser, "FETCH", "sip:h", ";x");
    QCOMPARE(odd.method, QString());
    QCOMPARE(odd.toString(), QString(" sip:h;x SIP/2.0\r\n\r\n"));
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
