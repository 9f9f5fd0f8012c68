#ifndef SIPWWWAUTHENTICATEHEADER_H
#define SIPWWWAUTHENTICATEHEADER_H

#include "sipchallengeheader.h"

class SipWwwAuthenticateHeader : public SipChallengeHeader
{
public:
    SipWwwAuthenticateHeader(SipMessageParser *parser, QString name, QString value);
};

#endif // SIPWWWAUTHENTICATEHEADER_H
