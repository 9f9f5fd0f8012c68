#ifndef CAPTURINGPARSER_H
#define CAPTURINGPARSER_H

// The wire parser with no user agent behind it: every message parse()
// completes is kept (and owned) here for the test to inspect.

#include "sipmessageparser.h"
#include "sippacket.h"

#include <QList>
#include <QString>

#include <stdexcept>

class CapturingParser : public SipMessageParser
{
public:
    ~CapturingParser() override { qDeleteAll(packets); }

    void processSip(SipPacket *message) override
    {
        packets.append(message);
        if (throwOnDelivery)
            throw std::runtime_error("processing failed");
    }
    // Clears what was captured, parses text and returns how many messages came.
    int feed(const QString &text)
    {
        qDeleteAll(packets);
        packets.clear();
        result = parse(text, "127.0.0.1", "5060");
        return packets.size();
    }

    QList<SipPacket *> packets;
    SipParseResult result; // of the last feed
    // When set, processSip throws after capturing (exception guard tests).
    bool throwOnDelivery = false;
};

#endif // CAPTURINGPARSER_H
