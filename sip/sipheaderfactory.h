#ifndef SIPHEADERFACTORY_H
#define SIPHEADERFACTORY_H

// Maps a header name to the class that understands it; compact forms get
// their full names.

#include <QString>

class SipHeader;
class SipMessageParser;

class SipHeaderFactory
{
public:
    explicit SipHeaderFactory(SipMessageParser *parser);

    // A new header, owned by the caller; never null.
    SipHeader *factory(QString name, QString value);

    SipMessageParser *parser = nullptr;
};

#endif // SIPHEADERFACTORY_H
