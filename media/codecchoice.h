#ifndef CODECCHOICE_H
#define CODECCHOICE_H

// Which codec a call uses, by RFC 3264: an answer names only formats of the
// offer. Formats without a=rtpmap are read by their static payload type.

#include "sdpformat.h"

#include <optional>

// Answering an offer: the first of our enabled codecs, in our order, that the
// offer also lists, with the offer's payload type and parameters. None in
// common: no codec, and the INVITE is refused with 488.
std::optional<SdpFormat> answerCodec(const SdpFormats &enabled, const SdpFormats &offer);

// Reading the answer to our offer: its first format that we offered (the
// answerer's preference), with the answer's payload type, which is what it
// expects to receive. A format we never offered is refused; none left: no codec.
std::optional<SdpFormat> answeredCodec(const SdpFormats &offered, const SdpFormats &answer);

#endif // CODECCHOICE_H
