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

SipHeaderFactory::SipHeaderFactory(SipParser *parser)
    : parser(parser)
{
}

SipHeader *SipHeaderFactory::factory(QString name, QString value)
{
    auto is = [&name](const char *key) {
        return name.compare(QLatin1String(key), Qt::CaseInsensitive) == 0;
    };
    if (is("via"))
        return new SipViaHeader(parser, name, value);
    if (is("v"))
        return new SipViaHeader(parser, "Via", value);
    if (is("from"))
        return new SipFromHeader(parser, name, value);
    if (is("f"))
        return new SipFromHeader(parser, "From", value);
    if (is("to"))
        return new SipToHeader(parser, name, value);
    if (is("t"))
        return new SipToHeader(parser, "To", value);
    if (is("contact"))
        return new SipContactHeader(parser, name, value);
    // "m" is Contact's compact form (RFC 3261 section 7.3.3)
    if (is("m"))
        return new SipContactHeader(parser, "Contact", value);
    if (is("cseq"))
        return new SipCseqHeader(parser, name, value);
    if (is("authorization"))
        return new SipAuthorizationHeader(parser, name, value);
    if (is("www-authenticate"))
        return new SipWwwAuthenticateHeader(parser, name, value);
    if (is("proxy-authenticate"))
        return new SipProxyAuthenticateHeader(parser, name, value);
    if (is("session-expires"))
        return new SipSessionExpiresHeader(parser, name, value);
    if (is("x"))
        return new SipSessionExpiresHeader(parser, "Session-Expires", value);
    if (is("record-route"))
        return new SipRecordRouteHeader(parser, "Record-Route", value);
    if (is("content"))
        return new SipContentHeader(parser, "Content", value);
    if (is("i"))
        return new SipHeader(parser, "Call-ID", value);
    if (is("c"))
        return new SipHeader(parser, "Content-Type", value);
    if (is("l"))
        return new SipHeader(parser, "Content-Length", value);
    return new SipHeader(parser, name, value);
}
