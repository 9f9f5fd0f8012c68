#ifndef AUDIOCODEC_H
#define AUDIOCODEC_H

// One voice codec of a call: 20 ms of PCM at the audio path's rate in, one
// RTP payload out, and back. The audio path (capture, jitter buffer, echo
// canceller, playback) runs at sampleRate(); RTP timestamps count clockRate()
// (8000 for G.722 although it samples at 16 kHz, RFC 3551 4.5.2; 48000 for
// Opus whatever it codes, RFC 7587 4.1).

#include "sdpformat.h"

#include <QByteArray>
#include <QVector>

#include <memory>

class AudioCodec
{
public:
    virtual ~AudioCodec() = default;

    virtual int sampleRate() const = 0;
    virtual int clockRate() const = 0;
    int frameSamples() const { return sampleRate() / 50; }   // 20 ms of audio
    int frameTicks() const { return clockRate() / 50; }      // timestamp step of a 20 ms packet

    // As negotiated: the payload type in use and the far end's parameters.
    const SdpFormat &format() const { return negotiated; }

    // `pcm` holds frameSamples() samples.
    virtual QByteArray encode(const qint16 *pcm) = 0;
    // Any length the far end chose to send; empty for a payload that does not decode.
    virtual QVector<qint16> decode(const QByteArray &payload) = 0;
    // One lost 20 ms frame. `next` is the payload that followed the loss, if it
    // has arrived: a codec with in-band redundancy rebuilds the frame from it.
    // Empty when the codec has no concealment of its own (hasConcealment()),
    // and the jitter buffer's covers the gap.
    virtual QVector<qint16> conceal(const QByteArray &next = QByteArray()) = 0;
    virtual bool hasConcealment() const = 0;

    // Our offer of every codec we implement, in no particular order; the
    // settings choose which are offered and in what order.
    static SdpFormats supported();
    // A codec for a negotiated format; null for one we do not implement
    // (telephone-event, G.729, ...).
    static std::unique_ptr<AudioCodec> create(const SdpFormat &format);
    // The codec a format names: its encoding, or for a format without
    // a=rtpmap the static payload type of RFC 3551 (0 PCMU, 8 PCMA, 9 G722).
    static SdpFormat named(const SdpFormat &format);

protected:
    explicit AudioCodec(const SdpFormat &format) : negotiated(format) { }

private:
    SdpFormat negotiated;
};

#endif // AUDIOCODEC_H
