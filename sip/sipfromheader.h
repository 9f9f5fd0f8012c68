#ifndef SIPFROMHEADER_H
#define SIPFROMHEADER_H

#include "sipaddressheader.h"

class SipFromHeader : public SipAddressHeader
{
public:
    SipFromHeader(SipMessageParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

};

#endif // SIPFROMHEADER_H
