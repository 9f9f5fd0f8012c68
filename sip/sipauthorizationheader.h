#ifndef SIPAUTHORIZATIONHEADER_H
#define SIPAUTHORIZATIONHEADER_H

#include "sipdigestheader.h"

class SipAuthorizationHeader : public SipDigestHeader
{
public:
    SipAuthorizationHeader(SipMessageParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

    QString username;
    QString realm;
    QString nonce;
    QString uri;
    QString response;
    QString algorithm;
};

#endif // SIPAUTHORIZATIONHEADER_H
