// One received datagram through the parser, and every delivered message back
// through its serialiser: no crash, no read past the text, bounded memory.

#include "sipmessageparser.h"
#include "siprequest.h"
#include "sipresponse.h"

#include <QLoggingCategory>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

class SerialisingParser : public SipMessageParser
{
public:
    void processSip(SipPacket *message) override
    {
        const bool request = message->packetType == PacketRequest;
        const QString wire = request ? static_cast<SipRequest *>(message)->toString()
                                     : static_cast<SipResponse *>(message)->toString();
        // a copy parses its headers again from their stored text
        SipPacket *copy = request ? static_cast<SipPacket *>(cloneSipRequest(message)) : cloneSipResponse(message);
        // at worst every input comma becomes a "Via: " line of its own
        if (wire.size() > 8 * (message->rawText.size() + 512))
            __builtin_trap();
        delete copy;
        delete message;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules("default.debug=false");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65535) // one UDP datagram at most
        return 0;
    static SerialisingParser parser;
    parser.parse(QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)), "127.0.0.1", "5060");
    return 0;
}
