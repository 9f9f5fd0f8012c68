#include "g722codec.h"

#include <stdint.h>
#include <spandsp/telephony.h>
#include <spandsp/g722.h>

G722Codec::G722Codec(const SdpFormat &format)
    : AudioCodec(format), encoder(g722_encode_init(nullptr, 64000, 0)), decoder(g722_decode_init(nullptr, 64000, 0))
{
}

G722Codec::~G722Codec()
{
    g722_encode_free(encoder);
    g722_decode_free(decoder);
}

SdpFormat G722Codec::offer()
{
    SdpFormat f;
    f.payloadType = 9;
    f.encoding = QStringLiteral("G722");
    return f;
}

QByteArray G722Codec::encode(const qint16 *pcm)
{
    // Two 16 kHz samples make one byte at 64 kbit/s.
    QByteArray out(160, Qt::Uninitialized);
    const int n = g722_encode(encoder, reinterpret_cast<uint8_t *>(out.data()), pcm, 320);
    out.truncate(qMax(0, n));
    return out;
}

QVector<qint16> G722Codec::decode(const QByteArray &payload)
{
    QVector<qint16> out(2 * payload.size());
    const int n = g722_decode(decoder, out.data(), reinterpret_cast<const uint8_t *>(payload.constData()),
                              payload.size());
    out.resize(qMax(0, n));
    return out;
}

QVector<qint16> G722Codec::conceal(const QByteArray &)
{
    return {};
}
