#ifndef SIPCHALLENGEHEADER_H
#define SIPCHALLENGEHEADER_H

#include "sipdigestheader.h"

// The fields of a Digest challenge, shared by WWW-Authenticate and
// Proxy-Authenticate: the two differ only in who asks (RFC 2617 section 3.2.1).
class SipChallengeHeader : public SipDigestHeader
{
public:
    void addParameter(QString name, QString value) override;

    QString username;
    QString realm;
    QString nonce;
    QString uri;
    QString domain;
    QString response;
    QString algorithm;
    QString qop;
    QString opaque;

protected:
    SipChallengeHeader(SipMessageParser *parser, QString name, QString value);
};

#endif // SIPCHALLENGEHEADER_H
