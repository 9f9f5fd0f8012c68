#ifndef CAPTURINGPARSER_H
#define CAPTURINGPARSER_H

// A SipParser without a user agent behind it: every message parse() completes
// is kept (and owned) here for the test to inspect.

#include "sippacket.h"
#include "sipparser.h"

#include <QList>
#include <QString>

#include <stdexcept>

class CapturingParser : public SipParser
{
public:
    CapturingParser() : SipParser(nullptr) {}
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
        parse(text, "127.0.0.1", "5060");
        return packets.size();
    }

    QList<SipPacket *> packets;
    // When set, processSip throws after capturing (exception guard tests).
    bool throwOnDelivery = false;
};

#endif // CAPTURINGPARSER_H
