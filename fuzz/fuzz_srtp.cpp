// SRTP unprotect (RFC 3711) of what arrives, with fixed keys: a forged packet
// never grows or is read past, and of packets protected with the far end's
// key a changed byte or a replay is dropped while the genuine one comes back
// as it was, on across the sequence wrap.
// The input: a flags byte (bit 0 the 32-bit tag suite, bits 1-3 how many more
// packets follow the first), the byte to XOR into a copy, its position, the
// sequence step, then the packet.
#include "srtpsession.h"

#include <QByteArray>
#include <QtEndian>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    static const QByteArray ourKey(SdesCrypto::keySaltLength, '\x5a'), theirKey(SdesCrypto::keySaltLength, '\xa5');
    // libsrtp's crypto backend (NSS on Debian) shuts down with its last
    // context and loads its modules again with the next: one session kept
    // for the whole run saves that per input.
    static SrtpSession keepsBackendUp;
    if (!keepsBackendUp.isActive() && !keepsBackendUp.start(SrtpSuite::AesCm128HmacSha1_80, ourKey, theirKey))
        __builtin_trap();

    const SrtpSuite suite = data[0] & 1 ? SrtpSuite::AesCm128HmacSha1_32 : SrtpSuite::AesCm128HmacSha1_80;
    const int tag = data[0] & 1 ? 4 : 10;
    const int packets = 1 + (data[0] >> 1 & 7);
    const char mask = char(data[1] ? data[1] : 1);
    const int position = data[2];
    const quint16 step = quint16(1 + data[3]);
    const QByteArray input(reinterpret_cast<const char *>(data + 4), int(size - 4));

    // As it came: only a packet made with their key gets through, its tag cut off.
    SrtpSession far, near;
    if (!near.start(suite, ourKey, theirKey) || !far.start(suite, theirKey, ourKey))
        __builtin_trap();
    QByteArray arrived = input;
    const bool taken = near.unprotect(arrived);
    if (taken && arrived.size() != input.size() - tag)
        __builtin_trap();

    // Made by the far end; a receiver that took the packet above starts again,
    // so its replay window holds nothing of that.
    if (input.size() < 12 || (taken && !near.start(suite, ourKey, theirKey)))
        return 0;
    QByteArray rtp = input;
    rtp[0] = char((rtp[0] & 0x3F) | 0x80);
    for (int i = 0; i < packets; ++i) {
        QByteArray sent = rtp;
        if (!far.protect(sent))
            break; // not RTP enough for libsrtp: a header longer than the packet
        if (sent.size() != rtp.size() + tag)
            __builtin_trap();
        QByteArray changed = sent;
        changed[position % changed.size()] = char(changed.at(position % changed.size()) ^ mask);
        if (near.unprotect(changed))
            __builtin_trap();
        QByteArray received = sent;
        if (!near.unprotect(received) || received != rtp)
            __builtin_trap();
        QByteArray replayed = sent;
        if (near.unprotect(replayed))
            __builtin_trap();
        // The next packet: sequence and timestamp on, wrapping.
        qToBigEndian<quint16>(quint16(qFromBigEndian<quint16>(rtp.constData() + 2) + step), rtp.data() + 2);
        qToBigEndian<quint32>(qFromBigEndian<quint32>(rtp.constData() + 4) + 160u * step, rtp.data() + 4);
    }
    return 0;
}
