#ifndef SDESCRYPTO_H
#define SDESCRYPTO_H

// One SDP "a=crypto" value (RFC 4568): tag, suite and one inline master key
// with its salt. Lifetimes are read and ignored; MKIs, several keys and
// session parameters are not supported, so such a line is refused and the
// next one offered is tried. The key is fresh per call from the system's
// CSPRNG and leaves this object only as the SDP text: there is no stream
// operator, so it cannot reach a log by accident.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

enum class SrtpSuite { AesCm128HmacSha1_80, AesCm128HmacSha1_32 };

class SdesCrypto
{
public:
    // AES-128 master key and 112-bit master salt.
    static constexpr int keySaltLength = 30;

    int tag = 0;
    SrtpSuite suite = SrtpSuite::AesCm128HmacSha1_80;
    QByteArray keySalt;

    // "AES_CM_128_HMAC_SHA1_80" or "AES_CM_128_HMAC_SHA1_32".
    static QString suiteName(SrtpSuite suite);
    // A line with a fresh key.
    static SdesCrypto generate(int tag, SrtpSuite suite);
    // The lines of an offer: both suites, the stronger tag first (tags 1 and 2).
    static QList<SdesCrypto> offer();
    // Reads the value after "a=crypto:"; false for anything not supported.
    static bool parse(const QString &value, SdesCrypto *crypto);
    // The value after "a=crypto:", key included: for the SDP body only.
    QString toString() const;

    // The answer to an offer's crypto values: the first one we support, its
    // tag and suite kept, with a fresh key of ours. False when none fits.
    static bool chooseAnswer(const QStringList &offered, SdesCrypto *theirs, SdesCrypto *ours);
    // Our offer's line that an answer value accepted (same tag and suite),
    // and the answerer's key. False when the answer matches nothing we offered.
    static bool acceptAnswer(const QList<SdesCrypto> &offered, const QString &answer, SdesCrypto *ours,
                             SdesCrypto *theirs);
};

#endif // SDESCRYPTO_H
