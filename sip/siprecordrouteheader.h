#ifndef SIPRECORDROUTEHEADER_H
#define SIPRECORDROUTEHEADER_H

#include "sipaddressheader.h"

class SipRecordRouteHeader : public SipAddressHeader
{
public:
    SipRecordRouteHeader(SipMessageParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

    QString expires;
    QString vireg;
};

#endif // SIPRECORDROUTEHEADER_H
