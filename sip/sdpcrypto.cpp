#include "sdpcrypto.h"

#include "sdpsession.h"

namespace {
const QString kCrypto = QStringLiteral("crypto");
const QString kSavp = QStringLiteral("RTP/SAVP");
const QString kAvp = QStringLiteral("RTP/AVP");
} // namespace

MediaEncryption mediaEncryption(const QString &setting)
{
    if (setting == QLatin1String("SRTP"))
        return MediaEncryption::Required;
    if (setting == QStringLiteral("SRTP, если возможно"))
        return MediaEncryption::Optional;
    return MediaEncryption::Off;
}

void SdpCrypto::clear()
{
    m_offered.clear();
    m_ours = m_theirs = SdesCrypto();
    m_active = false;
}

void SdpCrypto::addToOffer(SdpSession &offer)
{
    clear();
    offer.removeAttributes(kCrypto);
    if (mode == MediaEncryption::Off) {
        offer.mediaProtocol = kAvp;
        return;
    }
    offer.mediaProtocol = mode == MediaEncryption::Required ? kSavp : kAvp;
    m_offered = SdesCrypto::offer();
    for (const SdesCrypto &line : qAsConst(m_offered))
        offer.addAttribute(kCrypto, line.toString());
}

bool SdpCrypto::takeAnswer(const SdpSession &answer)
{
    // A 183 and the 200 OK may both answer the one offer.
    m_ours = m_theirs = SdesCrypto();
    m_active = false;
    if (mode == MediaEncryption::Off)
        return true;
    for (const QString &value : answer.attributes(kCrypto)) {
        if (SdesCrypto::acceptAnswer(m_offered, value, &m_ours, &m_theirs)) {
            m_active = true;
            return true;
        }
    }
    m_ours = m_theirs = SdesCrypto();
    return mode == MediaEncryption::Optional && answer.mediaProtocol != kSavp;
}

bool SdpCrypto::answerOffer(const SdpSession &offer, SdpSession &answer)
{
    // A re-offer that repeats the far end's key keeps ours: the streams run on
    // without a new key in either direction (RFC 4568 7.1.4).
    const bool wasActive = m_active;
    const SdesCrypto before = m_ours, theirsBefore = m_theirs;
    clear();
    answer.removeAttributes(kCrypto);
    const bool savp = offer.mediaProtocol == kSavp;
    if (mode == MediaEncryption::Off)
        return !savp;
    if (SdesCrypto::chooseAnswer(offer.attributes(kCrypto), &m_theirs, &m_ours)) {
        if (wasActive && m_theirs.toString() == theirsBefore.toString())
            m_ours = before;
        m_active = true;
        answer.mediaProtocol = offer.mediaProtocol;
        answer.addAttribute(kCrypto, m_ours.toString());
        return true;
    }
    m_ours = m_theirs = SdesCrypto();
    return mode == MediaEncryption::Optional && !savp;
}
