#ifndef SIPADDRESSHEADER_H
#define SIPADDRESSHEADER_H

#include "sipheader.h"

// Common parse of the name-addr headers (From, To, Contact, Record-Route):
// display name, URI scheme, user, host[:port] and header parameters. The
// classes differ only in which delimiters end the user part and a parameter.
class SipAddressHeader : public SipHeader
{
public:
    QString name;
    QString scheme;
    QString num;
    QString addr;
    QString addrIp;
    QString addrPort;
    QString tag;

    // parse working state
    int state = 0;
    QString token;
    QString paramName;
    int pos = 0;
    QChar ch;

protected:
    SipAddressHeader(SipMessageParser *parser, QString name, QString value);
    // Runs the state machine over the untrimmed value; returns false when a
    // character outside the accepted classes stopped it early.
    bool parseAddress(const QString &value);
};

#endif // SIPADDRESSHEADER_H
