#include "audiocodec.h"

#include "g711codec.h"
#include "g722codec.h"
#include "opuscodec.h"

SdpFormats AudioCodec::supported()
{
    return { G722Codec::offer(), OpusCodec::offer(), G711Codec::offer(G711Codec::Law::A),
             G711Codec::offer(G711Codec::Law::U) };
}

SdpFormat AudioCodec::named(const SdpFormat &format)
{
    if (!format.encoding.isEmpty())
        return format;
    SdpFormat f = format;
    switch (format.payloadType) {
    case 0: f.encoding = QStringLiteral("PCMU"); break;
    case 8: f.encoding = QStringLiteral("PCMA"); break;
    case 9: f.encoding = QStringLiteral("G722"); break;
    default: break;
    }
    return f;
}

std::unique_ptr<AudioCodec> AudioCodec::create(const SdpFormat &format)
{
    const SdpFormat f = named(format);
    if (f.sameCodec(G711Codec::offer(G711Codec::Law::A)))
        return std::make_unique<G711Codec>(G711Codec::Law::A, f);
    if (f.sameCodec(G711Codec::offer(G711Codec::Law::U)))
        return std::make_unique<G711Codec>(G711Codec::Law::U, f);
    if (f.sameCodec(G722Codec::offer()))
        return std::make_unique<G722Codec>(f);
    if (f.sameCodec(OpusCodec::offer()))
        return std::make_unique<OpusCodec>(f);
    return nullptr;
}
