// Typed header fields as the user agent reads them, the factory's class and
// name choice, the SIP URI's acceptance rules, and UTF-8 display names.

#include "capturingparser.h"
#include "sipauthorizationheader.h"
#include "sipcontactheader.h"
#include "sipcseqheader.h"
#include "sipheaderfactory.h"
#include "sipproxyauthenticateheader.h"
#include "sipsessionexpiresheader.h"
#include "sipuri.h"
#include "sipviaheader.h"
#include "sipwwwauthenticateheader.h"

#include <QLoggingCategory>
#include <QMap>
#include <QtTest>
#include <memory>

namespace {

template <class H> QMap<QString, QString> challenge(SipHeader *h)
{
    auto *c = static_cast<H *>(h);
    return {{"realm", c->realm}, {"nonce", c->nonce}, {"qop", c->qop}, {"opaque", c->opaque},
            {"algorithm", c->algorithm}};
}

// Every typed field of a header by its name, so that one table covers all classes.
QMap<QString, QString> fieldsOf(SipHeader *h)
{
    switch (h->headerType) {
    case SipHeader::Via: {
        auto *v = static_cast<SipViaHeader *>(h);
        return {{"protocol", v->protocol}, {"host", v->host}, {"port", v->port}, {"rport", v->rport},
                {"received", v->received}, {"branch", v->branch}};
    }
    case SipHeader::From:
    case SipHeader::To:
    case SipHeader::Contact: {
        auto *a = static_cast<SipAddressHeader *>(h);
        QMap<QString, QString> f{{"name", a->name}, {"scheme", a->scheme}, {"num", a->num}, {"addr", a->addr},
                                 {"addrIp", a->addrIp}, {"addrPort", a->addrPort}, {"tag", a->tag}};
        if (h->headerType == SipHeader::Contact) {
            f["expires"] = static_cast<SipContactHeader *>(h)->expires;
            f["vireg"] = static_cast<SipContactHeader *>(h)->vireg;
        }
        return f;
    }
    case SipHeader::Cseq: {
        auto *c = static_cast<SipCseqHeader *>(h);
        return {{"number", c->number}, {"cseqMethod", c->cseqMethod}};
    }
    case SipHeader::Authorization: {
        auto *a = static_cast<SipAuthorizationHeader *>(h);
        return {{"username", a->username}, {"realm", a->realm}, {"nonce", a->nonce}, {"uri", a->uri},
                {"response", a->response}, {"algorithm", a->algorithm}};
    }
    case SipHeader::WwwAuthenticate:
        return challenge<SipWwwAuthenticateHeader>(h);
    case SipHeader::ProxyAuthenticate:
        return challenge<SipProxyAuthenticateHeader>(h);
    case SipHeader::SessionExpires: {
        auto *s = static_cast<SipSessionExpiresHeader *>(h);
        return {{"deltaSeconds", s->deltaSeconds}, {"refresher", s->refresher}};
    }
    }
    return {};
}

} // namespace

class TstSipHeader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void typedFields_data();
    void typedFields();
    void factory_data();
    void factory();
    void uri_data();
    void uri();
};

void TstSipHeader::typedFields_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    // "field=value" pairs separated by "|"; fields not listed are not checked
    QTest::addColumn<QString>("expected");

    QTest::newRow("via all parameters")
        << "Via" << "SIP/2.0/UDP 192.168.1.10:5062;rport=5062;branch=z9hG4bKabc;received=10.1.1.1"
        << "protocol=SIP/2.0/UDP|host=192.168.1.10|port=5062|rport=5062|branch=z9hG4bKabc|received=10.1.1.1";
    QTest::newRow("via bare rport dropped")
        << "Via" << "SIP/2.0/UDP 192.168.1.10;rport;branch=z9hG4bKabc" << "host=192.168.1.10|port=|rport=|branch=z9hG4bKabc";
    QTest::newRow("via host running out unstored") << "Via" << "SIP/2.0/UDP 192.168.1.10" << "host=|port=";
    QTest::newRow("from display name and port")
        << "From" << "\"Alice\" <sip:100@10.0.0.1:5070>;tag=xyz"
        << "name=Alice|scheme=sip|num=100|addr=10.0.0.1:5070|addrIp=10.0.0.1|addrPort=5070|tag=xyz";
    // From ends the user part only at "@", To also at ">"
    QTest::newRow("from without user part") << "From" << "<sip:10.0.0.2>" << "addr=|addrIp=|addrPort=5060";
    QTest::newRow("to without user part") << "To" << "<sip:10.0.0.2>" << "num=|addr=10.0.0.2|addrIp=10.0.0.2";
    QTest::newRow("from compact, no brackets")
        << "f" << "sip:300@host.example;tag=77" << "scheme=sip|num=300|addr=host.example|tag=77";
    QTest::newRow("from unquoted name dropped") << "From" << "Bob <sip:200@h>;tag=1" << "name=|num=200|tag=1";
    QTest::newRow("from utf-8 display name")
        << "From" << QString::fromUtf8("\"José 東京\" <sip:100@10.0.0.1>;tag=t")
        << QString::fromUtf8("name=José 東京|num=100|tag=t");
    QTest::newRow("from C1 control stops parse")
        << "From" << QString("<sip:100@10.0.0.1>;tag=a") + QChar(0x85) + "b" << "num=100|addrIp=|addrPort=|tag=";
    QTest::newRow("contact compact, expires")
        << "m" << "<sip:100@10.0.0.1;transport=udp>;expires=3600" << "num=100|addr=10.0.0.1|expires=3600|tag=";
    QTest::newRow("contact uri parameter closes at bracket")
        << "Contact" << "<sip:100@10.0.0.1:5070;vireg=1>;tag=q" << "addrIp=10.0.0.1|addrPort=5070|vireg=1|tag=q";
    QTest::newRow("cseq") << "CSeq" << "2 INVITE" << "number=2|cseqMethod=INVITE";
    QTest::newRow("cseq without space") << "CSeq" << "2" << "number=|cseqMethod=";
    // characters skipped inside a field: the parts on both sides join
    QTest::newRow("cseq method across a line feed") << "CSeq" << "7 IN\nVITE" << "number=7|cseqMethod=INVITE";
    QTest::newRow("challenge quoted values")
        << "WWW-Authenticate" << "digest realm=\"asterisk\",nonce=\"5f1d2c\", algorithm=MD5"
        << "realm=asterisk|nonce=5f1d2c|algorithm=MD5";
    QTest::newRow("challenge blank inside a name")
        << "WWW-Authenticate" << "Digest re alm=\"r\", nonce=\"n\"" << "realm=r|nonce=n";
    QTest::newRow("challenge basic ignored") << "WWW-Authenticate" << "Basic realm=\"r\", nonce=\"n\"" << "realm=|nonce=";
    QTest::newRow("challenge qop list keeps later pairs")
        << "Proxy-Authenticate" << "Digest realm=\"r\", qop=\"auth,auth-int\", nonce=\"n1\", opaque=\"o\""
        << "realm=r|qop=auth,auth-int|nonce=n1|opaque=o";
    QTest::newRow("credentials")
        << "Authorization"
        << "Digest username=\"100\", realm=\"r\", nonce=\"n\", uri=\"sip:10.0.0.5\", response=\"abc\", algorithm=MD5"
        << "username=100|realm=r|nonce=n|uri=sip:10.0.0.5|response=abc|algorithm=MD5";
    QTest::newRow("session-expires") << "Session-Expires" << "1800;refresher=uac" << "deltaSeconds=1800|refresher=uac";
}

void TstSipHeader::typedFields()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, expected);

    SipHeaderFactory factory(nullptr);
    std::unique_ptr<SipHeader> header(factory.factory(name, value));
    const QMap<QString, QString> fields = fieldsOf(header.get());
    for (const QString &pair : expected.split('|')) {
        const QString field = pair.section('=', 0, 0);
        QVERIFY2(fields.contains(field), qPrintable("no field " + field));
        QCOMPARE(fields.value(field), pair.section('=', 1));
    }
    QCOMPARE(header->headerValue, value.trimmed());
}

void TstSipHeader::factory_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("storedName");
    // compact "v" and "l" and the body's "Content" are proven by the parse and serialisation tests

    QTest::newRow("via lower case") << "via" << int(SipHeader::Via) << "via";
    QTest::newRow("record-route canonical") << "record-route" << int(SipHeader::RecordRoute) << "Record-Route";
    QTest::newRow("call-id compact") << "i" << int(SipHeader::Plain) << "Call-ID";
    QTest::newRow("call-id kept as sent") << "CALL-ID" << int(SipHeader::Plain) << "CALL-ID";
    QTest::newRow("unknown") << "X-Asterisk-HangupCause" << int(SipHeader::Plain) << "X-Asterisk-HangupCause";
}

void TstSipHeader::factory()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QString, storedName);

    CapturingParser parser;
    std::unique_ptr<SipHeader> header(parser.headerFactory->factory(name, "  1 x  "));
    // a copy is of the same class with the same text
    std::unique_ptr<SipHeader> copy(parser.cloneHeader(header.get()));
    for (SipHeader *h : {header.get(), copy.get()}) {
        QCOMPARE(h->headerType, type);
        QCOMPARE(h->headerName, storedName);
        QCOMPARE(h->headerValue, QString("1 x"));
    }
}

void TstSipHeader::uri_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    // scheme|user|password|host|port|uriParams|uriHeaders, then toString()
    QTest::addColumn<QString>("parts");
    QTest::addColumn<QString>("written");

    QTest::newRow("full") << "sip:100@10.0.0.1:5060;transport=udp" << true
                          << "sip|100||10.0.0.1|5060|transport=udp|" << "sip:100@10.0.0.1:5060";
    QTest::newRow("password not written") << "sips:alice:secret@example.org?subject=x" << true
                                          << "sips|alice|secret|example.org|||subject=x" << "sips:alice@example.org";
    QTest::newRow("params then headers") << "sip:h;lr;x=1?a=b" << true << "sip|||h||lr;x=1|a=b" << "sip:h";
    QTest::newRow("@ later sends params into user") << "sip:100;x=1@host" << true << "sip|100;x=1||host|||"
                                                    << "sip:100;x=1@host";
    QTest::newRow("no colon at all") << "nothing" << true << "||||||" << ":";
    QTest::newRow("cyrillic user") << QString::fromUtf8("sip:иван@10.0.0.1") << true
                                   << QString::fromUtf8("sip|иван||10.0.0.1|||") << QString::fromUtf8("sip:иван@10.0.0.1");
    QTest::newRow("scheme in capitals") << "SIP:100@host" << false << "" << "";
    QTest::newRow("space in user") << "sip:100 200@host" << false << "" << "";
    QTest::newRow("nul") << QString("sip:10") + QChar(0) + "@h" << false << "" << "";
    QTest::newRow("C1 control") << QString("sip:h") + QChar(0x9b) << false << "" << "";
}

void TstSipHeader::uri()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QString, parts);
    QFETCH(QString, written);

    SipUri uri(nullptr);
    QCOMPARE(uri.parse(text), accepted);
    if (!accepted)
        return;
    const QStringList got = {uri.scheme, uri.user, uri.password, uri.host, uri.port, uri.uriParams, uri.uriHeaders};
    QCOMPARE(got.join('|'), parts);
    QCOMPARE(uri.toString(), written);
}

QTEST_GUILESS_MAIN(TstSipHeader)
#include "tst_sipheader.moc"
