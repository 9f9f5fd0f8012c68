#ifndef G722CODEC_H
#define G722CODEC_H

// G.722 at 64 kbit/s through spandsp (RFC 3551 4.5.2): 16 kHz audio, 8000 Hz
// RTP clock, 160 bytes per 20 ms, static payload type 9.

#include "audiocodec.h"

struct g722_encode_state_s;
struct g722_decode_state_s;

class G722Codec : public AudioCodec
{
public:
    explicit G722Codec(const SdpFormat &format);
    ~G722Codec() override;
    G722Codec(const G722Codec &) = delete;
    G722Codec &operator=(const G722Codec &) = delete;
    static SdpFormat offer();

    int sampleRate() const override { return 16000; }
    int clockRate() const override { return 8000; }
    QByteArray encode(const qint16 *pcm) override;
    QVector<qint16> decode(const QByteArray &payload) override;
    QVector<qint16> conceal(const QByteArray &next) override;
    bool hasConcealment() const override { return false; }

private:
    g722_encode_state_s *encoder;
    g722_decode_state_s *decoder;
};

#endif // G722CODEC_H
