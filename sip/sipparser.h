#ifndef SIPPARSER_H
#define SIPPARSER_H

// The user agent's parser: the message parser, handing each completed
// message to the user agent's processing.

#include "sipmessageparser.h"

class SipProcessor;

class SipParser : public SipMessageParser
{
public:
    explicit SipParser(SipProcessor *processor = nullptr) : processor(processor) {}

    // Receives every message parse() completes, and owns it from then on.
    void processSip(SipPacket *message) override;

    SipProcessor *processor;
};

#endif // SIPPARSER_H
