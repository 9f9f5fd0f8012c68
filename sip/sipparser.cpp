#include "sipparser.h"

#include "sippacket.h"
#include "sipprocessor.h"

void SipParser::processSip(SipPacket *message)
{
    if (processor)
        processor->processSip(message);
    else
        delete message;
}
