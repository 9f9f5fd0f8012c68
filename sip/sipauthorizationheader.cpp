#include "sipauthorizationheader.h"

#include <QDebug>

SipAuthorizationHeader::SipAuthorizationHeader(SipMessageParser *parser, QString name, QString value)
    : SipDigestHeader(parser, name, value)
{
    headerType = Authorization;
    if (parseDigest(value) && logEnabled())
        qDebug().noquote() << "SipAuthorizationHeader: " + toString();
}

void SipAuthorizationHeader::addParameter(QString name, QString value)
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
    else if (name == QLatin1String("response"))
        response = value;
    else if (name == QLatin1String("algorithm"))
        algorithm = value;
}
