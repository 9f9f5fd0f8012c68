#ifndef SIPREQUEST_H
#define SIPREQUEST_H

#include "sippacket.h"

// A request: the method (only one of the known methods is kept) and the
// request-URI.
class SipRequest : public SipPacket
{
public:
    // An empty request with its own method table (used by the copy operation).
    explicit SipRequest(SipMessageParser *parser);
    // As parsed from the wire; the parser sets requestUri afterwards.
    SipRequest(SipMessageParser *parser, QString method, QString rawText, QString serverIp, QString serverPort);
    // As built: the URI text is parsed into requestUri.
    SipRequest(SipMessageParser *parser, QString method, QString uri, QString uriSuffix);

    QString toString();

private:
    void setMethod(const QString &method);
};

#endif // SIPREQUEST_H
