#include "sdescrypto.h"

#include <QRandomGenerator>
#include <QRegularExpression>

QString SdesCrypto::suiteName(SrtpSuite suite)
{
    switch (suite) {
    case SrtpSuite::AesCm128HmacSha1_80: return QStringLiteral("AES_CM_128_HMAC_SHA1_80");
    case SrtpSuite::AesCm128HmacSha1_32: return QStringLiteral("AES_CM_128_HMAC_SHA1_32");
    }
    return QString();
}

SdesCrypto SdesCrypto::generate(int tag, SrtpSuite suite)
{
    SdesCrypto crypto;
    crypto.tag = tag;
    crypto.suite = suite;
    quint32 words[(keySaltLength + 3) / 4];
    QRandomGenerator::system()->fillRange(words);
    crypto.keySalt = QByteArray(reinterpret_cast<const char *>(words), keySaltLength);
    std::fill(std::begin(words), std::end(words), 0u);
    return crypto;
}

QList<SdesCrypto> SdesCrypto::offer()
{
    return {generate(1, SrtpSuite::AesCm128HmacSha1_80), generate(2, SrtpSuite::AesCm128HmacSha1_32)};
}

bool SdesCrypto::parse(const QString &value, SdesCrypto *crypto)
{
    // tag SP suite SP "inline:" key-salt ["|" lifetime]; a lifetime is
    // digits or "2^" digits, an MKI has a colon and is refused.
    static const QRegularExpression line(QStringLiteral(
        "^([0-9]{1,9}) ([A-Za-z0-9_]+) inline:([A-Za-z0-9+/]{40})(\\|2\\^[0-9]{1,2}|\\|[0-9]{1,15})?$"));
    const QRegularExpressionMatch m = line.match(value.trimmed());
    if (!m.hasMatch())
        return false;
    SdesCrypto parsed;
    parsed.tag = m.captured(1).toInt();
    const QString suite = m.captured(2);
    if (suite == suiteName(SrtpSuite::AesCm128HmacSha1_80))
        parsed.suite = SrtpSuite::AesCm128HmacSha1_80;
    else if (suite == suiteName(SrtpSuite::AesCm128HmacSha1_32))
        parsed.suite = SrtpSuite::AesCm128HmacSha1_32;
    else
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(m.captured(3).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != keySaltLength)
        return false;
    parsed.keySalt = decoded.decoded;
    *crypto = parsed;
    return true;
}

QString SdesCrypto::toString() const
{
    return QStringLiteral("%1 %2 inline:%3").arg(tag).arg(suiteName(suite), QString::fromLatin1(keySalt.toBase64()));
}

bool SdesCrypto::chooseAnswer(const QStringList &offered, SdesCrypto *theirs, SdesCrypto *ours)
{
    for (const QString &value : offered) {
        SdesCrypto line;
        if (parse(value, &line)) {
            *theirs = line;
            *ours = generate(line.tag, line.suite);
            return true;
        }
    }
    return false;
}

bool SdesCrypto::acceptAnswer(const QList<SdesCrypto> &offered, const QString &answer, SdesCrypto *ours,
                              SdesCrypto *theirs)
{
    SdesCrypto line;
    if (!parse(answer, &line))
        return false;
    for (const SdesCrypto &mine : offered) {
        if (mine.tag == line.tag && mine.suite == line.suite) {
            *ours = mine;
            *theirs = line;
            return true;
        }
    }
    return false;
}
