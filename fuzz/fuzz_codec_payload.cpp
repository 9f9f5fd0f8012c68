// Arbitrary RTP payloads through a call's decoder, with losses between them:
// G.722 gives two samples a byte, Opus the samples its packet announces (at
// most 120 ms) and a whole frame for every loss, rebuilt from the next
// packet's redundancy when it carries some (RFC 7587 in-band FEC).
// The input: a byte choosing the codec (G.722, Opus with and without FEC,
// G.711), then records of a kind byte (decode, conceal from the next payload,
// conceal alone), a two-byte length and the payload.
#include "audiocodec.h"

#include <opus.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

SdpFormat formatOf(int choice)
{
    SdpFormat f;
    switch (choice) {
    case 0:
        f.payloadType = 9;
        break;
    case 1:
    case 2:
        f.payloadType = 111;
        f.encoding = QStringLiteral("opus");
        f.clockRate = 48000;
        f.channels = 2;
        f.fmtp = choice == 1 ? QStringLiteral("useinbandfec=1") : QString();
        break;
    default:
        f.payloadType = 8;
        break;
    }
    return f;
}

// Whether a decoder of our own, fresh, plays a packet the codec did not.
bool playedByLibopus(const QByteArray &payload, int rate, int longest)
{
    static OpusDecoder *reference = opus_decoder_create(rate, 1, nullptr);
    opus_decoder_ctl(reference, OPUS_RESET_STATE);
    std::vector<opus_int16> pcm(static_cast<size_t>(longest));
    return opus_decode(reference, reinterpret_cast<const unsigned char *>(payload.constData()), payload.size(),
                       pcm.data(), longest, 0) > 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int choice = data[0] % 4;
    const std::unique_ptr<AudioCodec> codec = AudioCodec::create(formatOf(choice));
    if (!codec)
        __builtin_trap();
    const bool opus = choice == 1 || choice == 2;
    size_t at = 1;
    while (at + 3 <= size) {
        const int kind = data[at] % 3;
        const size_t len = size_t(data[at + 1] << 8 | data[at + 2]) & 0x7FF;
        at += 3;
        const QByteArray payload(reinterpret_cast<const char *>(data + at), int(std::min(size - at, len)));
        at += len;
        if (kind == 0) {
            const QVector<qint16> pcm = codec->decode(payload);
            if (opus) {
                const int announced = payload.isEmpty() ? 0
                    : opus_packet_get_nb_samples(reinterpret_cast<const unsigned char *>(payload.constData()),
                                                 payload.size(), codec->sampleRate());
                const int longest = codec->sampleRate() * 120 / 1000;
                if (pcm.size() > longest || (!pcm.isEmpty() && pcm.size() != announced))
                    __builtin_trap();
                // Nothing played: libopus itself must refuse the packet.
                if (pcm.isEmpty() && announced > 0 && playedByLibopus(payload, codec->sampleRate(), longest))
                    __builtin_trap();
            } else if (pcm.size() != payload.size() * codec->sampleRate() / 8000) {
                __builtin_trap();
            }
        } else {
            const QVector<qint16> pcm = codec->conceal(kind == 1 ? payload : QByteArray());
            if (pcm.size() != (codec->hasConcealment() ? codec->frameSamples() : 0) || codec->hasConcealment() != opus)
                __builtin_trap();
        }
    }
    return 0;
}
