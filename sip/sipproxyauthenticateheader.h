#ifndef SIPPROXYAUTHENTICATEHEADER_H
#define SIPPROXYAUTHENTICATEHEADER_H

#include "sipdigestheader.h"

class SipProxyAuthenticateHeader : public SipDigestHeader
{
public:
    SipProxyAuthenticateHeader(SipParser *parser, QString name, QString value);

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
};

#endif // SIPPROXYAUTHENTICATEHEADER_H
