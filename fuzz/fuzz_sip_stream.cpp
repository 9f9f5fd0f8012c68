// Feeds an arbitrary TCP stream to the SIP stream framer in pieces whose
// sizes come from the input itself: the framer must never hold more than its
// bounds, and the messages it cut must cut the same way when fed again whole.
#include "sipstreamframer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int piece = 1 + data[0] * 37;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), int(size - 1));
    SipStreamFramer framer;
    QList<QByteArray> messages;
    for (int at = 0; at < stream.size(); at += piece) {
        framer.feed(stream.mid(at, piece));
        messages += framer.takeMessages();
        if (framer.buffered() > SipStreamFramer::maxHeaderBytes + SipStreamFramer::maxBodyBytes + piece)
            __builtin_trap();
    }
    SipStreamFramer again;
    if (!again.feed(messages.join()) || again.takeMessages() != messages)
        __builtin_trap();
    return 0;
}
