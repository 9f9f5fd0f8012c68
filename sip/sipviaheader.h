#ifndef SIPVIAHEADER_H
#define SIPVIAHEADER_H

#include "sipheader.h"

// Via: sent-protocol, sent-by host and port, and the rport, received and
// branch parameters.
class SipViaHeader : public SipHeader
{
public:
    SipViaHeader(SipMessageParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

    // parse working state
    int state = 0;
    QString token;
    QString paramName;
    int pos = 0;
    QChar ch;

    QString protocol;
    QString host;
    QString port;
    QString rport;
    QString received;
    QString branch;
};

#endif // SIPVIAHEADER_H
