#include "g711codec.h"

#include "codec.h"

#include <QtEndian>

G711Codec::G711Codec(Law law, const SdpFormat &format) : AudioCodec(format), law(law) { }

SdpFormat G711Codec::offer(Law law)
{
    SdpFormat f;
    f.payloadType = law == Law::A ? 8 : 0;
    f.encoding = law == Law::A ? QStringLiteral("PCMA") : QStringLiteral("PCMU");
    return f;
}

QByteArray G711Codec::encode(const qint16 *pcm)
{
    // The frame conversions read 16-bit little-endian bytes, as captured.
    unsigned char le[2 * 160];
    qToLittleEndian<qint16>(pcm, 160, le);
    QByteArray out(160, Qt::Uninitialized);
    auto *code = reinterpret_cast<unsigned char *>(out.data());
    if (law == Law::A)
        alawEncodeFrame(le, code, 160);
    else
        ulawEncodeFrame(le, code, 160);
    return out;
}

QVector<qint16> G711Codec::decode(const QByteArray &payload)
{
    const int n = payload.size();
    QByteArray le(2 * n, Qt::Uninitialized);
    const auto *code = reinterpret_cast<const unsigned char *>(payload.constData());
    auto *pcm = reinterpret_cast<unsigned char *>(le.data());
    if (law == Law::A)
        alawDecodeFrame(code, pcm, n);
    else
        ulawDecodeFrame(code, pcm, n);
    QVector<qint16> out(n);
    qFromLittleEndian<qint16>(le.constData(), n, out.data());
    return out;
}

QVector<qint16> G711Codec::conceal(const QByteArray &)
{
    return {};
}
