// The codec attributes of an offered audio stream (a=rtpmap, a=fmtp) through
// the formats they make, the codec each one creates and the codec chosen to
// answer the offer or read as the answer to ours: a codec exists exactly for
// the formats we offer, the choice names one of the far end's formats, the
// chosen codec codes a frame with the far end's parameters, and the formats
// written read back the same. The input is the stream's lines after its m=.
#include "audiocodec.h"
#include "codecchoice.h"
#include "sdpstream.h"

#include <vector>

namespace {

bool sameFormat(const SdpFormat &a, const SdpFormat &b)
{
    return a.payloadType == b.payloadType && a.encoding == b.encoding && a.clockRate == b.clockRate
        && a.channels == b.channels && a.fmtp == b.fmtp;
}

// One frame of silence each way: the encoder made with the far end's
// parameters must give a payload its own decoder plays as one frame.
void codeOneFrame(AudioCodec &codec)
{
    const std::vector<qint16> silence(size_t(codec.frameSamples()), 0);
    const QByteArray payload = codec.encode(silence.data());
    if (payload.isEmpty() || codec.decode(payload).size() != codec.frameSamples())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<SdpSession> stream = fuzzStream("m=audio 4000 RTP/AVP 0 8 9 18 96 97 98 101 111 127", data, size);
    if (!stream)
        return 0;
    const SdpSession &offer = *stream;
    const SdpFormats supported = AudioCodec::supported();

    // The first format a codec exists for; a codec exists only for what we offer.
    int firstCodec = -1;
    for (int i = 0; i < offer.formats.size(); ++i) {
        const SdpFormat &f = offer.formats.at(i);
        const std::unique_ptr<AudioCodec> codec = AudioCodec::create(f);
        const SdpFormat named = AudioCodec::named(f);
        const bool ours = std::any_of(supported.cbegin(), supported.cend(),
                                      [&named](const SdpFormat &s) { return s.sameCodec(named); });
        if (bool(codec) != ours)
            __builtin_trap();
        if (!codec)
            continue;
        if (firstCodec < 0)
            firstCodec = i;
        if (codec->format().payloadType != f.payloadType || codec->clockRate() != named.clockRate
            || codec->frameTicks() * 50 != codec->clockRate()
            || (codec->sampleRate() != 8000 && codec->sampleRate() != 16000))
            __builtin_trap();
    }

    // Answering: the voice format our answer leads with is one of the offer's,
    // its payload type kept.
    const SdpSession answer = SdpSession::answer(offer, supported);
    if (answer.formats.isEmpty() != (firstCodec < 0))
        __builtin_trap();
    if (!answer.formats.isEmpty()) {
        const SdpFormat answered = AudioCodec::named(answer.formats.first());
        const SdpFormat *offered = offer.formatOf(answered.payloadType);
        if (!offered || !AudioCodec::named(*offered).sameCodec(answered) || answered.fmtp != offered->fmtp)
            __builtin_trap();
        const std::unique_ptr<AudioCodec> codec = AudioCodec::create(answered);
        if (!codec)
            __builtin_trap();
        codeOneFrame(*codec);
    }

    // Read as the answer to our offer of every codec: the answerer's first
    // format that we offered.
    const std::optional<SdpFormat> accepted = answeredCodec(supported, offer.formats);
    if (accepted.has_value() != (firstCodec >= 0)
        || (accepted && accepted->payloadType != offer.formats.at(firstCodec).payloadType))
        __builtin_trap();

    // Our answer's formats are the offer's, and what we write reads back the same.
    for (const SdpFormat &f : answer.formats)
        if (!offer.formatOf(f.payloadType))
            __builtin_trap();
    const SdpSession reread = SdpSession::fromText(offer.toText());
    if (reread.formats.size() != offer.formats.size())
        __builtin_trap();
    for (int i = 0; i < offer.formats.size(); ++i)
        if (!sameFormat(reread.formats.at(i), offer.formats.at(i)))
            __builtin_trap();
    return 0;
}
