#ifndef RTPHEADER_H
#define RTPHEADER_H

// The fixed RTP header of a received datagram (RFC 3550 5.1) and where its
// payload lies: after the CSRC list and the header extension, before the padding.

#include <QtGlobal>

struct RtpHeader
{
    int payloadType = 0;
    bool marker = false;
    quint16 sequence = 0;
    quint32 timestamp = 0;
    quint32 ssrc = 0;
    int payloadOffset = 0;
    int payloadLength = 0;

    // False for anything that is not version 2 or whose lengths do not add
    // up: CSRCs or an extension running past the end, padding longer than
    // what follows the header.
    bool parse(const unsigned char *data, int len);
};

#endif // RTPHEADER_H
