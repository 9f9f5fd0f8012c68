// RTP event payloads (RFC 4733) from the far end through the receiver, as a
// packet sequence: each key is reported once, for the first packet of a later
// timestamp, and a payload reads back as it was written.
// The input is a run of records: two bytes of timestamp step (signed, so
// packets may go back), a length byte, then the payload.
#include "telephoneevent.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TelephoneEventReceiver receiver;
    // What the receiver must do, kept apart from it: the newest timestamp
    // that started an event.
    bool seen = false;
    quint32 last = 0;
    quint32 timestamp = 0;
    size_t at = 0;
    while (at + 3 <= size) {
        timestamp += quint32(qint32(qint16(quint16(data[at] << 8 | data[at + 1]))));
        const size_t len = data[at + 2];
        at += 3;
        // An exact-size heap copy, so reading one byte past the payload is caught.
        const std::vector<unsigned char> payload(data + at, data + std::min(size, at + len));
        at += len;
        const int n = int(payload.size());
        const QChar key = receiver.take(timestamp, payload.data(), n);

        const bool starts = n >= TelephoneEventPayload::size && (!seen || qint32(timestamp - last) > 0);
        if (starts) {
            seen = true;
            last = timestamp;
        }
        const int event = n > 0 ? payload[0] : -1;
        // A key only for a new event 0-15, and then its own key.
        if (key.isNull() == (starts && event < 16))
            __builtin_trap();
        if (!key.isNull() && telephoneEventOf(key) != event)
            __builtin_trap();

        TelephoneEventPayload p;
        if (p.decode(payload.data(), n) != (n >= TelephoneEventPayload::size))
            __builtin_trap();
        if (n >= TelephoneEventPayload::size) {
            // Everything but the reserved bit, which a writer sends as zero.
            const QByteArray again = p.encode();
            if (again.size() != TelephoneEventPayload::size || uchar(again[0]) != payload[0]
                || uchar(again[1]) != (payload[1] & 0xBF) || uchar(again[2]) != payload[2]
                || uchar(again[3]) != payload[3])
                __builtin_trap();
        }
    }
    return 0;
}
