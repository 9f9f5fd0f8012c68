// Any message body through the SDP line split and the media value pick.

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
    return 0;
}
