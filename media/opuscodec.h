#ifndef OPUSCODEC_H
#define OPUSCODEC_H

// Opus through libopus (RFC 7587): offered as opus/48000/2 with in-band FEC,
// coded and played mono at 16 kHz. Wideband carries speech up to 8 kHz, all
// that matters for understanding it, at a third of 48 kHz's cost in the echo
// canceller and the jitter buffer; G.722 calls run at the same rate, so the
// audio path knows two rates (8 and 16 kHz), not three. The offer tells the
// far end through maxplaybackrate, so it spends no bits above 8 kHz.

#include "audiocodec.h"

struct OpusEncoder;
struct OpusDecoder;

class OpusCodec : public AudioCodec
{
public:
    static constexpr int rate = 16000;

    explicit OpusCodec(const SdpFormat &format);
    ~OpusCodec() override;
    OpusCodec(const OpusCodec &) = delete;
    OpusCodec &operator=(const OpusCodec &) = delete;
    static SdpFormat offer();

    int sampleRate() const override { return rate; }
    int clockRate() const override { return 48000; }
    QByteArray encode(const qint16 *pcm) override;
    QVector<qint16> decode(const QByteArray &payload) override;
    QVector<qint16> conceal(const QByteArray &next) override;
    bool hasConcealment() const override { return true; }

    // Whether the far end asked for in-band FEC (useinbandfec=1), so we send it.
    bool sendsFec() const { return fec; }

private:
    OpusEncoder *encoder = nullptr;
    OpusDecoder *decoder = nullptr;
    bool fec = false;
};

#endif // OPUSCODEC_H
