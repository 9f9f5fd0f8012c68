#ifndef CODECCHOICE_H
#define CODECCHOICE_H

// Which codec a call uses, by RFC 3264: an answer names only formats of the
// offer. Formats without a=rtpmap are read by their static payload type.

#include "sdpformat.h"

#include <optional>

// Reading the answer to our offer: its first format that we offered (the
// answerer's preference), with the answer's payload type, which is what it
// expects to receive. A format we never offered is refused, and touch-tone
// events (RFC 4733) carry no voice; none left: no codec.
std::optional<SdpFormat> answeredCodec(const SdpFormats &offered, const SdpFormats &answer);

#endif // CODECCHOICE_H
