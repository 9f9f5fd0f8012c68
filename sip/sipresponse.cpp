#include "sipresponse.h"

SipResponse::SipResponse(SipParser *parser)
    : SipPacket(parser)
{
    packetType = 2;
}

SipResponse::SipResponse(SipParser *parser, QString rawText, QString serverIp, QString serverPort)
    : SipPacket(parser, rawText, serverIp, serverPort)
{
    packetType = 2;
}

QString SipResponse::toString()
{
    return responseText();
}
