#ifndef SIPPROXYAUTHENTICATEHEADER_H
#define SIPPROXYAUTHENTICATEHEADER_H

#include "sipchallengeheader.h"

class SipProxyAuthenticateHeader : public SipChallengeHeader
{
public:
    SipProxyAuthenticateHeader(SipMessageParser *parser, QString name, QString value);
};

#endif // SIPPROXYAUTHENTICATEHEADER_H
