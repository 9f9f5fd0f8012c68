#include "sipchallengeheader.h"

SipChallengeHeader::SipChallengeHeader(SipMessageParser *parser, QString name, QString value)
    : SipDigestHeader(parser, name, value)
{
}

void SipChallengeHeader::addParameter(QString name, QString value)
{
    value = unquoted(value);
    if (name == QLatin1String("username"))
        username = value;
    else if (name == QLatin1String("realm"))
        realm = value;
    else if (name == QLatin1String("nonce"))
        nonce = value;
    else if (name == QLatin1String("uri"))
        uri = value;
    else if (name == QLatin1String("domain"))
        domain = value;
    else if (name == QLatin1String("response"))
        response = value;
    else if (name == QLatin1String("algorithm"))
        algorithm = value;
    else if (name == QLatin1String("qop"))
        qop = value;
    else if (name == QLatin1String("opaque"))
        opaque = value;
}
