#ifndef SIPTOHEADER_H
#define SIPTOHEADER_H

#include "sipaddressheader.h"

class SipToHeader : public SipAddressHeader
{
public:
    SipToHeader(SipMessageParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

};

#endif // SIPTOHEADER_H
