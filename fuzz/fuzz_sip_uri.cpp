// Any text through SipUri::parse and back through toString.

#include "sipuri.h"

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
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    SipUri uri(nullptr);
    uri.uriText = text;
    if (uri.parse(text)) {
        // nothing is invented: the written form is made of parsed parts
        if (uri.toString().size() > text.size() + 2)
            __builtin_trap();
    }
    return 0;
}
