// Typed header fields as the user agent reads them, the factory's class and name choice, the SIP URI's
// acceptance rules, and UTF-8 names. The cases are in tests/data/sip.

#include "capturingparser.h"
#include "fixturetable.h"
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
#include <QtTest>
#include <memory>

namespace {
template <class H> QMap<QString, QString> challenge(SipHeader *h)
{
    auto *c = static_cast<H *>(h);
    return {{"realm", c->realm}, {"nonce", c->nonce}, {"qop", c->qop}, {"opaque", c->opaque}, {"algorithm", c->algorithm}};
}

// Every typed field of a header by its name, so that one table covers all classes.
QMap<QString, QString> fieldsOf(SipHeader *h)
{
    const int type = h->headerType;
    if (type == SipHeader::Via) {
        auto *v = static_cast<SipViaHeader *>(h);
        return {{"protocol", v->protocol}, {"host", v->host}, {"port", v->port}, {"rport", v->rport},
                {"received", v->received}, {"branch", v->branch}};
    }
    if (type == SipHeader::From || type == SipHeader::To || type == SipHeader::Contact) {
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
    if (type == SipHeader::WwwAuthenticate)
        return challenge<SipWwwAuthenticateHeader>(h);
    return type == SipHeader::ProxyAuthenticate ? challenge<SipProxyAuthenticateHeader>(h) : QMap<QString, QString>();
}
} // namespace

class TstSipHeader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void typedFields_data() { fixtureRows("sip/headers.txt"); }
    void typedFields();
    void factory_data() { fixtureRows("sip/factory.txt"); }
    void factory();
    void uri_data() { fixtureRows("sip/uris.txt"); }
    void uri();
};

void TstSipHeader::typedFields()
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

void TstSipHeader::factory()
{
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QString, storedName);

    const QMap<QString, int> types{{"Plain", SipHeader::Plain}, {"Via", SipHeader::Via}, {"RecordRoute", SipHeader::RecordRoute}};
    CapturingParser parser;
    std::unique_ptr<SipHeader> header(parser.headerFactory->factory(name, "  1 x  "));
    // a copy is of the same class with the same text
    std::unique_ptr<SipHeader> copy(parser.cloneHeader(header.get()));
    for (SipHeader *h : {header.get(), copy.get()})
        QCOMPARE(QStringList({QString::number(h->headerType), h->headerName, h->headerValue}),
                 QStringList({QString::number(types.value(type)), storedName, "1 x"}));
}

void TstSipHeader::uri()
{
    QFETCH(QString, text);
    QFETCH(QString, parts);
    QFETCH(QString, written);

    SipUri uri(nullptr);
    QCOMPARE(uri.parse(text), !parts.isEmpty());
    if (parts.isEmpty())
        return;
    QCOMPARE(QStringList({uri.scheme, uri.user, uri.password, uri.host, uri.port, uri.uriParams, uri.uriHeaders}).join('|'), parts);
    QCOMPARE(uri.toString(), written);
}

QTEST_GUILESS_MAIN(TstSipHeader)
#include "tst_sipheader.moc"
