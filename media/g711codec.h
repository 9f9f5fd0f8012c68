#ifndef G711CODEC_H
#define G711CODEC_H

// G.711 A-law (payload type 8) or u-law (0) at 8000 Hz: 160 code words per
// 20 ms, the same bytes as the RTP session's frame conversions.

#include "audiocodec.h"

class G711Codec : public AudioCodec
{
public:
    enum class Law { A, U };

    G711Codec(Law law, const SdpFormat &format);
    static SdpFormat offer(Law law);

    int sampleRate() const override { return 8000; }
    int clockRate() const override { return 8000; }
    QByteArray encode(const qint16 *pcm) override;
    QVector<qint16> decode(const QByteArray &payload) override;
    QVector<qint16> conceal(const QByteArray &next) override;
    bool hasConcealment() const override { return false; }

private:
    Law law;
};

#endif // G711CODEC_H
