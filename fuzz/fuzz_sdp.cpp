// Any message body through the SDP line split and the media value pick, the
// session description read, answered and written again, and the INFO key read.

#include "dtmfinfo.h"
#include "sdpsession.h"
#include "sipcontentheader.h"

#include <QLoggingCategory>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules("default.debug=false");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65535)
        return 0;
    const QString body = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    SipContentHeader content(nullptr, "Content", body);
    const QString text = content.toString();
    if (text.size() > body.size() + content.sdpLines.size() * 2)
        __builtin_trap();

    const SdpSession offer = SdpSession::fromText(body);
    if (offer.formats.size() > SdpSession::maxFormats || offer.otherMedia.size() > SdpSession::maxFormats)
        __builtin_trap();
    SdpFormat pcma;
    pcma.payloadType = 8;
    pcma.encoding = QStringLiteral("PCMA");
    const SdpSession answer = SdpSession::answer(offer, {pcma});
    // what we write, we read back the same
    if (SdpSession::fromText(answer.toText()).formats.size() != answer.formats.size())
        __builtin_trap();
    dtmfInfoDigit(QStringLiteral("application/dtmf-relay"), body);
    return 0;
}
