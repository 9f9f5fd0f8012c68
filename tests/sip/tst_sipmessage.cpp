// SIP messages outside the parser: typed header fields as the user agent reads them (the factory's
// class choice included), the SIP URI's acceptance rules, the byte-exact text of built messages and
// copies. The cases are tables in tests/data/sip. (Header lists split by name in any case: tst_sipparser
// datagrams; headers changed and deleted in an ACK built from its INVITE: tst_processing statusTable.)

#include "capturingparser.h"
#include "fixturetable.h"
#include "sipauthorizationheader.h"
#include "sipcontactheader.h"
#include "sipcseqheader.h"
#include "sipheaderfactory.h"
#include "sipchallengeheader.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "sipsessionexpiresheader.h"
#include "sipuri.h"
#include "sipviaheader.h"

#include <QLoggingCategory>
#include <QtTest>
#include <memory>

namespace {
// Every typed field of a header by its name, so that one table covers all classes.
QMap<QString, QString> fieldsOf(SipHeader *h)
{
    const int type = h->headerType;
    if (type == SipHeader::Via) {
        auto *v = static_cast<SipViaHeader *>(h);
        return {{"protocol", v->protocol}, {"host", v->host}, {"port", v->port}, {"rport", v->rport},
                {"received", v->received}, {"branch", v->branch}};
    }
    if (type == SipHeader::From || type == SipHeader::To || type == SipHeader::Contact || type == SipHeader::RecordRoute) {
        auto *a = static_cast<SipAddressHeader *>(h);
        QMap<QString, QString> f{{"name", a->name}, {"scheme", a->scheme}, {"num", a->num}, {"addr", a->addr},
                                 {"addrIp", a->addrIp}, {"addrPort", a->addrPort}, {"tag", a->tag}};
        if (type == SipHeader::Contact)
            f.insert({{"expires", static_cast<SipContactHeader *>(h)->expires}, {"vireg", static_cast<SipContactHeader *>(h)->vireg}});
        return f;
    }
    if (type == SipHeader::Cseq)
        return {{"number", static_cast<SipCseqHeader *>(h)->number}, {"cseqMethod", static_cast<SipCseqHeader *>(h)->cseqMethod}};
    if (type == SipHeader::Authorization) {
        auto *d = static_cast<SipAuthorizationHeader *>(h);
        return {{"username", d->username}, {"realm", d->realm}, {"nonce", d->nonce}, {"uri", d->uri},
                {"response", d->response}, {"algorithm", d->algorithm}};
    }
    if (type == SipHeader::SessionExpires)
        return {{"deltaSeconds", static_cast<SipSessionExpiresHeader *>(h)->deltaSeconds},
                {"refresher", static_cast<SipSessionExpiresHeader *>(h)->refresher}};
    if (type != SipHeader::WwwAuthenticate && type != SipHeader::ProxyAuthenticate)
        return {};
    auto *c = static_cast<SipChallengeHeader *>(h);
    return {{"realm", c->realm}, {"nonce", c->nonce}, {"qop", c->qop}, {"opaque", c->opaque}, {"algorithm", c->algorithm}};
}
} // namespace

class TstSipMessage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }

    void typedFields_data() { fixtureRows("sip/headers.txt"); }
    void typedFields()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        std::unique_ptr<SipHeader> header(SipHeaderFactory(nullptr).factory(name, value));
        const QMap<QString, QString> fields = fieldsOf(header.get());
        for (const QString &pair : expected.split('|')) {
            QVERIFY2(fields.contains(pair.section('=', 0, 0)), qPrintable("no field in " + pair));
            QCOMPARE(pair.section('=', 0, 0) + "=" + fields.value(pair.section('=', 0, 0)), pair);
        }
        QCOMPARE(header->headerValue, value.trimmed());
    }

    void uri_data() { fixtureRows("sip/uris.txt"); }
    void uri()
    {
        QFETCH(QString, text);
        QFETCH(QString, parts);
        SipUri uri(nullptr);
        QCOMPARE(uri.parse(text), !parts.isEmpty());
        if (!parts.isEmpty())
            QCOMPARE(QStringList({uri.scheme, uri.user, uri.password, uri.host, uri.port, uri.uriParams, uri.uriHeaders,
                                  uri.toString()}).join('|'), parts);
    }

    // Headers added in order to a 180 response; "@From=port,tag" (and Contact, Via) use the address
    // builders for user 100 at 10.0.0.1.
    void serialisation_data() { fixtureRows("sip/built.txt"); }
    void serialisation()
    {
        QFETCH(QString, headers);
        CapturingParser parser;
        SipResponse response(&parser);
        response.statusCode = "180";
        response.reasonPhrase = "Ringing";
        for (const QString &h : headers.split('|')) {
            const QString name = h.section('=', 0, 0), value = h.section('=', 1), port = value.section(',', 0, 0), tag = value.section(',', 1);
            if (name == "@From")
                response.addFrom("100", "10.0.0.1", port, tag);
            else if (name == "@Contact")
                response.addContact("100", "10.0.0.1", port, tag);
            else if (name == "@Via")
                response.addVia("10.0.0.1", port, tag);
            else
                response.addHeader(name, value);
        }
        QTEST(response.toString(), "wire");
        QTEST(static_cast<SipPacket &>(response).toString(), "wire");
    }

    void copies()
    {
        CapturingParser parser;
        QCOMPARE(parser.feed("INVITE sip:100@10.0.0.1 SIP/2.0\r\n"
                             "v: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa, SIP/2.0/UDP 10.0.0.6;branch=z9hG4bKb\r\n"
                             "i: c1\r\nCSeq: 7 INVITE\r\n\r\nv=0\r\nm=audio 4000 RTP/AVP 0\r\n"),
                 1);
        std::unique_ptr<SipRequest> request(parser.cloneSipRequest(parser.packets.first()));
        std::unique_ptr<SipPacket> response(parser.cloneSipResponse(parser.packets.first()));
        response->statusCode = "200";
        response->reasonPhrase = "OK";
        parser.feed(QString()); // the copies outlive the original, typed fields included
        QCOMPARE(request->packetType * 10 + response->packetType, 12);
        // an unknown method is not kept; the request still serialises
        SipRequest odd(&parser, "FETCH", "sip:h", ";x");
        QCOMPARE(odd.method + odd.toString(), QString(" sip:h;x SIP/2.0\r\n\r\n"));
        QCOMPARE(static_cast<SipViaHeader *>(request->headers.at(1))->branch, QString("z9hG4bKb"));
        // compact names are written out in full
        QCOMPARE(response->toString(), QString("SIP/2.0 200 OK\r\n"
                                               "Via: SIP/2.0/UDP 10.0.0.5;branch=z9hG4bKa\r\n"
                                               "Via: SIP/2.0/UDP 10.0.0.6;branch=z9hG4bKb\r\n"
                                               "Call-ID: c1\r\nCSeq: 7 INVITE\r\n\r\nv=0\r\nm=audio 4000 RTP/AVP 0\r\n"));
    }
};

QTEST_GUILESS_MAIN(TstSipMessage)
#include "tst_sipmessage.moc"
