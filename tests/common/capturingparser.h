#ifndef CAPTURINGPARSER_H
#define CAPTURINGPARSER_H

// A SipParser without a user agent behind it: every message parse() completes
// is kept (and owned) here for the test to inspect.

#include "sipparser.h"

#include <QList>
#include <QString>

class CapturingParser : public SipParser
{
public:
    CapturingParser();
    ~CapturingParser() override;

    void processSip(SipPacket *message) override;
    // Clears what was captured, parses text and returns how many messages came.
    int feed(const QString &text);

    QList<SipPacket *> packets;
    // When set, processSip throws after capturing (exception guard tests).
    bool throwOnDelivery = false;
};

#endif // CAPTURINGPARSER_H
