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
    const QList<SdesCrypto> offered = m_offered;
    clear();
    if (mode == MediaEncryption::Off)
        return true;
    for (const QString &value : answer.attributes(kCrypto)) {
        if (SdesCrypto::acceptAnswer(offered, value, &m_ours, &m_theirs)) {
            m_active = true;
            return true;
        }
    }
    m_ours = m_theirs = SdesCrypto();
    return mode == MediaEncryption::Optional && answer.mediaProtocol != kSavp;
}

bool SdpCrypto::answerOffer(const SdpSession &offer, SdpSession &answer)
{
    clear();
    answer.removeAttributes(kCrypto);
    const bool savp = offer.mediaProtocol == kSavp;
    if (mode == MediaEncryption::Off)
        return !savp;
    if (SdesCrypto::chooseAnswer(offer.attributes(kCrypto), &m_theirs, &m_ours)) {
        m_active = true;
        answer.mediaProtocol = offer.mediaProtocol;
        answer.addAttribute(kCrypto, m_ours.toString());
        return true;
    }
    m_ours = m_theirs = SdesCrypto();
    return mode == MediaEncryption::Optional && !savp;
}
