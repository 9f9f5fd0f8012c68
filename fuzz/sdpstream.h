// The input of the stream-attribute targets: one audio stream's lines after its m= line, read in a session
// with the given m= line; inputs over 8 KiB are skipped (nil session). Debug logging off.
#pragma once

#include "sdpsession.h"

#include <QLoggingCategory>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules("default.debug=false");
    return 0;
}

inline std::optional<SdpSession> fuzzStream(const char *mLine, const uint8_t *data, size_t size)
{
    if (size > 8192)
        return std::nullopt;
    return SdpSession::fromText(QStringLiteral("v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n")
                                + QLatin1String(mLine) + QStringLiteral("\r\n")
                                + QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)));
}
