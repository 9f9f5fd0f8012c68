#ifndef MEDIADESCRIPTION_H
#define MEDIADESCRIPTION_H

// What the media layer needs of a call's offer and answer, as one value the
// user agent emits whenever it changes: where to send, in which format, with
// which key-event payload, and in which directions audio flows.

#include "sdescrypto.h"
#include "sdpformat.h"

#include <QMetaType>
#include <QString>

struct MediaDescription
{
    // The far end's RTP address and port.
    QString address;
    int port = 0;
    // The voice format both sides settled on, with the payload type the far
    // end expects to receive.
    SdpFormat codec;
    // telephone-event's payload type (RFC 4733), or -1 when the far end has none.
    int eventPayloadType = -1;
    // false while the far end holds the call (sendonly, inactive or
    // c=0.0.0.0) or the directions say nothing is to be sent.
    bool send = false;
    bool receive = false;
    // SRTP keys both sides gave in the SDP: ours protects what we send,
    // theirs what we receive. Never logged.
    bool srtp = false;
    SdesCrypto sendKey;
    SdesCrypto receiveKey;

    bool operator==(const MediaDescription &o) const
    {
        return address == o.address && port == o.port && codec.payloadType == o.codec.payloadType
            && codec.sameCodec(o.codec) && codec.fmtp == o.codec.fmtp && eventPayloadType == o.eventPayloadType
            && send == o.send && receive == o.receive && srtp == o.srtp && sendKey.suite == o.sendKey.suite
            && sendKey.keySalt == o.sendKey.keySalt && receiveKey.keySalt == o.receiveKey.keySalt;
    }
    bool operator!=(const MediaDescription &o) const { return !(*this == o); }
};

Q_DECLARE_METATYPE(MediaDescription)

#endif // MEDIADESCRIPTION_H
