#include "srtpsession.h"

#include <srtp2/srtp.h>

#include <cstring>

static_assert(SrtpSession::maxTrailer >= SRTP_MAX_TAG_LEN, "room for the longest tag");

namespace {
bool libraryReady()
{
    // libsrtp's crypto kernel is process-wide; one init serves every session.
    static const bool ready = srtp_init() == srtp_err_status_ok;
    return ready;
}

srtp_t createContext(SrtpSuite suite, const QByteArray &keySalt, srtp_ssrc_type_t direction)
{
    if (keySalt.size() != SdesCrypto::keySaltLength || !libraryReady())
        return nullptr;
    srtp_policy_t policy;
    std::memset(&policy, 0, sizeof policy);
    switch (suite) {
    case SrtpSuite::AesCm128HmacSha1_80:
        srtp_crypto_policy_set_aes_cm_128_hmac_sha1_80(&policy.rtp);
        break;
    case SrtpSuite::AesCm128HmacSha1_32:
        srtp_crypto_policy_set_aes_cm_128_hmac_sha1_32(&policy.rtp);
        break;
    }
    // RTCP keeps the 80-bit tag in both suites (RFC 4568 6.2).
    srtp_crypto_policy_set_aes_cm_128_hmac_sha1_80(&policy.rtcp);
    policy.ssrc.type = direction;
    // libsrtp copies the key into its own context, which it wipes on dealloc.
    unsigned char key[SdesCrypto::keySaltLength];
    std::memcpy(key, keySalt.constData(), sizeof key);
    policy.key = key;
    policy.window_size = 128;
    policy.allow_repeat_tx = 0;
    srtp_t context = nullptr;
    const srtp_err_status_t status = srtp_create(&context, &policy);
    std::memset(key, 0, sizeof key);
    return status == srtp_err_status_ok ? context : nullptr;
}
} // namespace

SrtpSession::SrtpSession() = default;

SrtpSession::~SrtpSession()
{
    stop();
}

bool SrtpSession::start(SrtpSuite suite, const QByteArray &sendKeySalt, const QByteArray &receiveKeySalt)
{
    stop();
    m_tx = createContext(suite, sendKeySalt, ssrc_any_outbound);
    m_rx = createContext(suite, receiveKeySalt, ssrc_any_inbound);
    if (isActive())
        return true;
    stop();
    return false;
}

void SrtpSession::stop()
{
    if (m_tx)
        srtp_dealloc(m_tx);
    if (m_rx)
        srtp_dealloc(m_rx);
    m_tx = m_rx = nullptr;
}

bool SrtpSession::protect(QByteArray &packet)
{
    // libsrtp reads the header itself and refuses what is not RTP.
    if (!m_tx || packet.size() < 12)
        return false;
    int length = packet.size();
    packet.resize(length + SRTP_MAX_TRAILER_LEN);
    const bool ok = srtp_protect(m_tx, packet.data(), &length) == srtp_err_status_ok;
    packet.resize(ok ? length : packet.size() - SRTP_MAX_TRAILER_LEN);
    return ok;
}

bool SrtpSession::unprotect(QByteArray &packet)
{
    if (!m_rx || packet.size() < 12)
        return false;
    int length = packet.size();
    if (srtp_unprotect(m_rx, packet.data(), &length) != srtp_err_status_ok)
        return false;
    packet.resize(length);
    return true;
}
