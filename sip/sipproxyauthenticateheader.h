#ifndef SIPPROXYAUTHENTICATEHEADER_H
#define SIPPROXYAUTHENTICATEHEADER_H

#include "sipchallengeheader.h"

class SipProxyAuthenticateHeader : public SipChallengeHeader
{
public:
    SipProxyAuthenticateHeader(SipParser *parser, QString name, QString value);
};

#endif // SIPPROXYAUTHENTICATEHEADER_H
