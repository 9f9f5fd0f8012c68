#ifndef SDPCRYPTO_H
#define SDPCRYPTO_H

// The SRTP keys of one call in its offer and answer (SDES, RFC 4568), as the
// "Шифров. медиа" setting asks:
// - "Отключено": no a=crypto is offered or answered; an RTP/SAVP offer is
//   refused (488), since we would have to answer it encrypted.
// - "SRTP": offered as RTP/SAVP with a=crypto; an offer without a crypto
//   line we support is refused (488), an answer without one ends the call.
// - "SRTP, если возможно": a=crypto offered in RTP/AVP, as most phones do
//   ("best effort" SRTP): a far end that knows SDES encrypts, one that does
//   not ignores the unknown attribute and the call goes on in clear. An
//   RTP/SAVP profile would make such a far end refuse the whole call.
// AES_CM_128_HMAC_SHA1_80 is offered first, _32 after it; either is accepted.
// Each offer and answer carries fresh keys.

#include "sdescrypto.h"

#include <QList>
#include <QString>

class SdpSession;

enum class MediaEncryption { Off, Required, Optional };

// The setting's text: "Отключено", "SRTP", "SRTP, если возможно"; anything
// else is off.
MediaEncryption mediaEncryption(const QString &setting);

class SdpCrypto
{
public:
    explicit SdpCrypto(MediaEncryption mode = MediaEncryption::Off) : mode(mode) {}

    MediaEncryption mode;

    // Our offer's profile and crypto lines, keys fresh.
    void addToOffer(SdpSession &offer);
    // The answer (provisional or final) to our offer. False when the call cannot go on: SRTP is
    // required and no crypto line of the answer matches one we offered, or
    // the answer's profile is RTP/SAVP without one.
    bool takeAnswer(const SdpSession &answer);
    // A far end's offer: our answer's profile and crypto line. False: refuse
    // the offer with 488.
    bool answerOffer(const SdpSession &offer, SdpSession &answer);

    // Keys agreed: ours protect what we send, theirs what we receive.
    bool active() const { return m_active; }
    const SdesCrypto &ours() const { return m_ours; }
    const SdesCrypto &theirs() const { return m_theirs; }
    // Forgets the keys of the call.
    void clear();

private:
    QList<SdesCrypto> m_offered;
    SdesCrypto m_ours;
    SdesCrypto m_theirs;
    bool m_active = false;
};

#endif // SDPCRYPTO_H
