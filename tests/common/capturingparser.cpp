#include "capturingparser.h"

#include "sippacket.h"

#include <stdexcept>

CapturingParser::CapturingParser()
    : SipParser(nullptr)
{
}

CapturingParser::~CapturingParser()
{
    qDeleteAll(packets);
}

void CapturingParser::processSip(SipPacket *message)
{
    packets.append(message);
    if (throwOnDelivery)
        throw std::runtime_error("processing failed");
}

int CapturingParser::feed(const QString &text)
{
    qDeleteAll(packets);
    packets.clear();
    parse(text, "127.0.0.1", "5060");
    return packets.size();
}
