#include "codecchoice.h"

#include "audiocodec.h"

namespace {

std::optional<SdpFormat> firstShared(const SdpFormats &order, const SdpFormats &others)
{
    for (const SdpFormat &mine : order) {
        const SdpFormat m = AudioCodec::named(mine);
        for (const SdpFormat &other : others)
            if (AudioCodec::named(other).sameCodec(m))
                return AudioCodec::named(other);
    }
    return std::nullopt;
}

} // namespace

std::optional<SdpFormat> answeredCodec(const SdpFormats &offered, const SdpFormats &answer)
{
    for (const SdpFormat &a : answer)
        if (a.encoding.compare(QLatin1String("telephone-event"), Qt::CaseInsensitive) != 0 && firstShared({ a }, offered))
            return AudioCodec::named(a);
    return std::nullopt;
}
