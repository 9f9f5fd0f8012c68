#include "sipproxyauthenticateheader.h"

#include <QDebug>

SipProxyAuthenticateHeader::SipProxyAuthenticateHeader(SipMessageParser *parser, QString name, QString value)
    : SipChallengeHeader(parser, name, value)
{
    headerType = ProxyAuthenticate;
    if (parseDigest(value) && logEnabled())
        qDebug().noquote() << "SipProxyAuthenticateHeader: " + toString();
}
