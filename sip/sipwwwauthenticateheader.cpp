#include "sipwwwauthenticateheader.h"

#include <QDebug>

SipWwwAuthenticateHeader::SipWwwAuthenticateHeader(SipParser *parser, QString name, QString value)
    : SipChallengeHeader(parser, name, value)
{
    headerType = WwwAuthenticate;
    if (parseDigest(value) && logEnabled())
        qDebug().noquote() << "SipWwwAuthenticateHeader: " + toString();
}
