#ifndef SIPSESSIONEXPIRESHEADER_H
#define SIPSESSIONEXPIRESHEADER_H

#include "sipheader.h"

// Session-Expires (RFC 4028): delta-seconds and the refresher parameter.
class SipSessionExpiresHeader : public SipHeader
{
public:
    SipSessionExpiresHeader(SipMessageParser *parser, QString name, QString value);

    void addParameter(QString name, QString value) override;

    QString deltaSeconds;
    QString refresher;

    // parse working state
    int state = 0;
    QString token;
    QString paramName;
    int pos = 0;
    QChar ch;
};

#endif // SIPSESSIONEXPIRESHEADER_H
