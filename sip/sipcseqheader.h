#ifndef SIPCSEQHEADER_H
#define SIPCSEQHEADER_H

#include "sipheader.h"

class SipCseqHeader : public SipHeader
{
public:
    SipCseqHeader(SipMessageParser *parser, QString name, QString value);

    QString number;
    QString cseqMethod;

    // parse working state
    int state = 0;
    QString token;
    int pos = 0;
    QChar ch;
};

#endif // SIPCSEQHEADER_H
