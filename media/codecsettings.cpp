#include "codecsettings.h"

#include "accountsettings.h"

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
    return formats;
}
