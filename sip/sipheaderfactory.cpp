#include "sipheaderfactory.h"

#include "sipauthorizationheader.h"
#include "sipcontactheader.h"
#include "sipcontentheader.h"
#include "sipcseqheader.h"
#include "sipfromheader.h"
#include "sipproxyauthenticateheader.h"
#include "siprecordrouteheader.h"
#include "sipsessionexpiresheader.h"
#include "siptoheader.h"
#include "sipviaheader.h"
#include "sipwwwauthenticateheader.h"

SipHeaderFactory::SipHeaderFactory(SipMessageParser *parser)
    : parser(parser)
{
}

SipHeader *SipHeaderFactory::factory(QString name, QString value)
{
    auto is = [&name](QLatin1String key) {
        return name.compare(key, Qt::CaseInsensitive) == 0;
    };
    // A case-insensitive match needs equal lengths, so the length picks the few
    // names worth comparing; most headers are none of these.
    switch (name.size()) {
    case 1:
        if (is(QLatin1String("v")))
            return new SipViaHeader(parser, QStringLiteral("Via"), value);
        if (is(QLatin1String("f")))
            return new SipFromHeader(parser, QStringLiteral("From"), value);
        if (is(QLatin1String("t")))
            return new SipToHeader(parser, QStringLiteral("To"), value);
        // "m" is Contact's compact form (RFC 3261 section 7.3.3)
        if (is(QLatin1String("m")))
            return new SipContactHeader(parser, QStringLiteral("Contact"), value);
        if (is(QLatin1String("x")))
            return new SipSessionExpiresHeader(parser, QStringLiteral("Session-Expires"), value);
        if (is(QLatin1String("i")))
            return new SipHeader(parser, QStringLiteral("Call-ID"), value);
        if (is(QLatin1String("c")))
            return new SipHeader(parser, QStringLiteral("Content-Type"), value);
        if (is(QLatin1String("l")))
            return new SipHeader(parser, QStringLiteral("Content-Length"), value);
        break;
    case 2:
        if (is(QLatin1String("to")))
            return new SipToHeader(parser, name, value);
        break;
    case 3:
        if (is(QLatin1String("via")))
            return new SipViaHeader(parser, name, value);
        break;
    case 4:
        if (is(QLatin1String("from")))
            return new SipFromHeader(parser, name, value);
        if (is(QLatin1String("cseq")))
            return new SipCseqHeader(parser, name, value);
        break;
    case 7:
        if (is(QLatin1String("contact")))
            return new SipContactHeader(parser, name, value);
        if (is(QLatin1String("content")))
            return new SipContentHeader(parser, QStringLiteral("Content"), value);
        break;
    case 12:
        if (is(QLatin1String("record-route")))
            return new SipRecordRouteHeader(parser, QStringLiteral("Record-Route"), value);
        break;
    case 13:
        if (is(QLatin1String("authorization")))
            return new SipAuthorizationHeader(parser, name, value);
        break;
    case 15:
        if (is(QLatin1String("session-expires")))
            return new SipSessionExpiresHeader(parser, name, value);
        break;
    case 16:
        if (is(QLatin1String("www-authenticate")))
            return new SipWwwAuthenticateHeader(parser, name, value);
        break;
    case 18:
        if (is(QLatin1String("proxy-authenticate")))
            return new SipProxyAuthenticateHeader(parser, name, value);
        break;
    }
    return new SipHeader(parser, name, value);
}
