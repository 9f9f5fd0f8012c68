#ifndef SRTPSESSION_H
#define SRTPSESSION_H

// SRTP (RFC 3711) for one call through libsrtp2: our packets protected with
// our master key, the far end's unprotected with theirs. libsrtp keeps the
// rollover counter across sequence wraps and the replay window; a packet
// with a bad tag or seen before is refused.

#include "sdescrypto.h"

#include <QByteArray>

struct srtp_ctx_t_;

class SrtpSession
{
public:
    // Bytes protect() may add to a packet: the authentication tag.
    static constexpr int maxTrailer = 16;

    SrtpSession();
    ~SrtpSession();
    SrtpSession(const SrtpSession &) = delete;
    SrtpSession &operator=(const SrtpSession &) = delete;

    // Both keys are 30 bytes of master key and salt (SdesCrypto::keySalt).
    // False, and inactive, when libsrtp refuses them.
    bool start(SrtpSuite suite, const QByteArray &sendKeySalt, const QByteArray &receiveKeySalt);
    void stop();
    bool isActive() const { return m_tx && m_rx; }

    // An RTP packet becomes SRTP in place; false when it cannot be protected.
    bool protect(QByteArray &packet);
    // An SRTP packet becomes RTP in place; false (drop it) for a bad tag, a
    // replay, a packet too old for the window or one that is not SRTP.
    bool unprotect(QByteArray &packet);

private:
    srtp_ctx_t_ *m_tx = nullptr;
    srtp_ctx_t_ *m_rx = nullptr;
};

#endif // SRTPSESSION_H
