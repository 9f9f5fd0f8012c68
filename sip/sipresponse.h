#ifndef SIPRESPONSE_H
#define SIPRESPONSE_H

#include "sippacket.h"

// A response: a packet of type 2 whose creator fills statusCode and
// reasonPhrase; it adds no fields, only the status-line serialiser.
class SipResponse : public SipPacket
{
public:
    explicit SipResponse(SipMessageParser *parser);
    SipResponse(SipMessageParser *parser, QString rawText, QString serverIp, QString serverPort);

    QString toString();
};

#endif // SIPRESPONSE_H
