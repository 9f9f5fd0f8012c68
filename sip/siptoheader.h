#ifndef SIPTOHEADER_H
#define SIPTOHEADER_H

#include "sipaddressheader.h"

class SipToHeader : public SipAddressHeader
{
public:
    SipToHeader(SipParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

};

#endif // SIPTOHEADER_H
