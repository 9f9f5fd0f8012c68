#ifndef SIPDIGESTHEADER_H
#define SIPDIGESTHEADER_H

#include "sipheader.h"

// Common parse of the Digest credentials and challenges (RFC 2617):
// "Digest" followed by comma-separated name=value pairs, each handed to
// addParameter of the concrete class.
class SipDigestHeader : public SipHeader
{
public:
    // parse working state
    int state = 0;
    QString token;
    QString paramName;
    int pos = 0;
    QChar ch;

protected:
    SipDigestHeader(SipMessageParser *parser, QString name, QString value);
    // Returns false when the scheme is not Digest or a character outside the
    // accepted classes stopped the parse.
    bool parseDigest(const QString &value);
    static QString unquoted(QString value);
};

#endif // SIPDIGESTHEADER_H
