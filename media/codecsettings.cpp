#include "codecsettings.h"

#include "accountsettings.h"
#include "g722codec.h"
#include "opuscodec.h"

namespace {

SdpFormat format(int payloadType, const char *encoding, int clockRate, int channels = 1, const char *fmtp = "")
{
    SdpFormat f;
    f.payloadType = payloadType;
    f.encoding = QLatin1String(encoding);
    f.clockRate = clockRate;
    f.channels = channels;
    f.fmtp = QLatin1String(fmtp);
    return f;
}

} // namespace

SdpFormats enabledFormats(const AccountSettings &settings)
{
    SdpFormats formats;
    if (settings.codecPCMA)
        formats << format(8, "PCMA", 8000);
    if (settings.codecPCMU)
        formats << format(0, "PCMU", 8000);
    if (settings.codecG722)
        formats << G722Codec::offer();
    if (settings.codecOpus)
        formats << OpusCodec::offer();
    return formats;
}
