// The SDP "a=crypto" lines (RFC 4568) of a far end's audio stream, read as
// its offer and as the answer to ours: a line read writes back the same, the
// answer keeps the first usable line's tag and suite with a fresh key of
// ours, the keys start an SRTP session, and an answer is accepted exactly
// when it names a line we offered. The input is the stream's lines after its m=.
#include "sdescrypto.h"
#include "sdpstream.h"
#include "srtpsession.h"

namespace {

bool sameLine(const SdesCrypto &a, const SdesCrypto &b)
{
    return a.tag == b.tag && a.suite == b.suite && a.keySalt == b.keySalt;
}

// Our offer with fixed keys, so a run repeats.
QList<SdesCrypto> fixedOffer()
{
    SdesCrypto strong, weak;
    strong.tag = 1;
    strong.suite = SrtpSuite::AesCm128HmacSha1_80;
    strong.keySalt = QByteArray(SdesCrypto::keySaltLength, '\x11');
    weak.tag = 2;
    weak.suite = SrtpSuite::AesCm128HmacSha1_32;
    weak.keySalt = QByteArray(SdesCrypto::keySaltLength, '\x22');
    return {strong, weak};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<SdpSession> stream = fuzzStream("m=audio 4000 RTP/SAVP 8", data, size);
    if (!stream)
        return 0;
    const QStringList lines = stream->attributes(QStringLiteral("crypto"));
    static const QList<SdesCrypto> offered = fixedOffer();
    // libsrtp's crypto backend (NSS on Debian) shuts down with its last
    // context and loads its modules again with the next: one session kept
    // for the whole run saves that per input.
    static SrtpSession keepsBackendUp;
    if (!keepsBackendUp.isActive() && !keepsBackendUp.start(offered.at(0).suite, offered.at(0).keySalt, offered.at(1).keySalt))
        __builtin_trap();

    const SdesCrypto *firstUsable = nullptr;
    SdesCrypto parsed[SdpSession::maxLines];
    for (int i = 0; i < lines.size() && i < SdpSession::maxLines; ++i) {
        SdesCrypto &line = parsed[i];
        if (!SdesCrypto::parse(lines.at(i), &line))
            continue;
        SdesCrypto again;
        if (line.keySalt.size() != SdesCrypto::keySaltLength || line.tag < 0 || !SdesCrypto::parse(line.toString(), &again)
            || !sameLine(again, line))
            __builtin_trap();
        if (!firstUsable)
            firstUsable = &line;

        // As the answer to our offer: accepted only for one of our tags with its suite.
        SdesCrypto ours, theirs;
        const bool ourLine = std::any_of(offered.cbegin(), offered.cend(), [&line](const SdesCrypto &o) {
            return o.tag == line.tag && o.suite == line.suite;
        });
        if (SdesCrypto::acceptAnswer(offered, lines.at(i), &ours, &theirs) != ourLine)
            __builtin_trap();
        if (ourLine && (ours.tag != line.tag || ours.suite != line.suite || !sameLine(theirs, line)
                        || !std::any_of(offered.cbegin(), offered.cend(),
                                        [&ours](const SdesCrypto &o) { return sameLine(o, ours); })))
            __builtin_trap();
    }

    // As an offer: the first line we read, answered with a key of our own.
    SdesCrypto theirs, ours;
    if (SdesCrypto::chooseAnswer(lines, &theirs, &ours) != bool(firstUsable))
        __builtin_trap();
    if (!firstUsable)
        return 0;
    if (!sameLine(theirs, *firstUsable) || ours.tag != theirs.tag || ours.suite != theirs.suite
        || ours.keySalt.size() != SdesCrypto::keySaltLength || ours.keySalt == theirs.keySalt)
        __builtin_trap();
    SrtpSession session;
    if (!session.start(ours.suite, ours.keySalt, theirs.keySalt))
        __builtin_trap();
    return 0;
}
