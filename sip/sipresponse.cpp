#include "sipresponse.h"

SipResponse::SipResponse(SipMessageParser *parser)
    : SipPacket(parser)
{
    packetType = PacketResponse;
}

SipResponse::SipResponse(SipMessageParser *parser, QString rawText, QString serverIp, QString serverPort)
    : SipPacket(parser, rawText, serverIp, serverPort)
{
    packetType = PacketResponse;
}

QString SipResponse::toString()
{
    return responseText();
}
