#include "sipwwwauthenticateheader.h"

#include <QDebug>

SipWwwAuthenticateHeader::SipWwwAuthenticateHeader(SipMessageParser *parser, QString name, QString value)
    : SipChallengeHeader(parser, name, value)
{
    headerType = WwwAuthenticate;
    if (parseDigest(value) && logEnabled())
        qDebug().noquote() << "SipWwwAuthenticateHeader: " + toString();
}
