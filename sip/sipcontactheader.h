#ifndef SIPCONTACTHEADER_H
#define SIPCONTACTHEADER_H

#include "sipaddressheader.h"

class SipContactHeader : public SipAddressHeader
{
public:
    SipContactHeader(SipMessageParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

    QString expires;
    QString vireg;
};

#endif // SIPCONTACTHEADER_H
