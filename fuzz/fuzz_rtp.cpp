// Feeds arbitrary datagrams to the receive path without the session object:
// the RTP header parsing, G.711 decoding and the jitter buffer of one call per
// input (one kept across inputs would leave allocations behind each, and the
// leak check that follows such an input costs a thousand of them). The input
// is a run of records: a length byte, a byte of milliseconds since the last
// datagram, a byte of samples to play after it (times 8), then the datagram.
// Needs only Qt Core.
#include "codec.h"
#include "jitterbuffer.h"
#include "rtpheader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    JitterBuffer buffer;
    double now = 0;
    size_t at = 0;
    while (at + 3 <= size) {
        const size_t len = data[at];
        now += data[at + 1];
        const int play = 8 * data[at + 2];
        at += 3;
        // An exact-size heap copy, so reading one byte past the datagram is caught.
        std::vector<unsigned char> datagram(data + at, data + std::min(size, at + len));
        at += len;
        RtpHeader h;
        if (h.parse(datagram.data(), int(datagram.size()))) {
            if (h.payloadOffset < 12 || h.payloadLength < 0 || h.payloadOffset + h.payloadLength > int(datagram.size()))
                __builtin_trap();
            std::vector<unsigned char> pcm(2 * size_t(h.payloadLength));
            alawDecodeFrame(datagram.data() + h.payloadOffset, pcm.data(), h.payloadLength);
            std::vector<qint16> samples(size_t(h.payloadLength));
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = qint16(quint16(pcm[2 * i] | pcm[2 * i + 1] << 8));
            buffer.push(h.sequence, h.timestamp, h.ssrc, samples.data(), int(samples.size()), now);
        }
        std::vector<qint16> out(size_t(play) + 1);
        buffer.pull(out.data(), play);
        if (buffer.bufferedSamples() > JitterBuffer::maxTargetMs * JitterBuffer::rate / 1000)
            __builtin_trap();
        const JitterBuffer::Figures f = buffer.figures();
        if (f.targetMs < JitterBuffer::minTargetMs || f.targetMs > JitterBuffer::maxTargetMs)
            __builtin_trap();
    }
    return 0;
}
