#ifndef SDPFORMAT_H
#define SDPFORMAT_H

// One media format of an SDP m= line, with what its a=rtpmap and a=fmtp say
// (RFC 4566 6, RFC 3264 5.1).

#include <QString>
#include <QVector>

struct SdpFormat
{
    int payloadType = -1;
    QString encoding;   // as a=rtpmap names it: "PCMA", "PCMU", "G722", "opus", "telephone-event"
    int clockRate = 8000; // the RTP clock (8000 for G.722 although it samples at 16 kHz)
    int channels = 1;
    QString fmtp;       // the a=fmtp parameters, without "a=fmtp:PT "

    bool sameCodec(const SdpFormat &other) const
    {
        return encoding.compare(other.encoding, Qt::CaseInsensitive) == 0 && clockRate == other.clockRate
            && channels == other.channels;
    }
};

using SdpFormats = QVector<SdpFormat>;

#endif // SDPFORMAT_H
