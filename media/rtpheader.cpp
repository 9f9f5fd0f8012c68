#include "rtpheader.h"

bool RtpHeader::parse(const unsigned char *data, int len)
{
    constexpr int fixedSize = 12;
    if (!data || len < fixedSize || (data[0] >> 6) != 2)
        return false;
    const bool padding = data[0] & 0x20;
    const bool extension = data[0] & 0x10;
    const int csrcCount = data[0] & 0x0F;
    marker = data[1] & 0x80;
    payloadType = data[1] & 0x7F;
    sequence = quint16(data[2] << 8 | data[3]);
    timestamp = quint32(data[4]) << 24 | quint32(data[5]) << 16 | quint32(data[6]) << 8 | data[7];
    ssrc = quint32(data[8]) << 24 | quint32(data[9]) << 16 | quint32(data[10]) << 8 | data[11];

    int offset = fixedSize + 4 * csrcCount;
    if (extension) {
        // 16-bit profile word, then the length in 32-bit words after this header
        if (offset + 4 > len)
            return false;
        offset += 4 + 4 * (data[offset + 2] << 8 | data[offset + 3]);
    }
    int end = len;
    if (padding) {
        // the last byte counts the padding, itself included
        const int pad = data[len - 1];
        if (pad == 0 || pad > len - offset)
            return false;
        end -= pad;
    }
    if (offset > end)
        return false;
    payloadOffset = offset;
    payloadLength = end - offset;
    return true;
}
