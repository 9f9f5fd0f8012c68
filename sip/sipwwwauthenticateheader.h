#ifndef SIPWWWAUTHENTICATEHEADER_H
#define SIPWWWAUTHENTICATEHEADER_H

#include "sipdigestheader.h"

class SipWwwAuthenticateHeader : public SipDigestHeader
{
public:
    SipWwwAuthenticateHeader(SipParser *parser, QString name, QString value);

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

#endif // SIPWWWAUTHENTICATEHEADER_H
