// SRTP in both suites: a packet comes back as it was and its payload is not readable on the wire, across the
// sequence wrap; a changed byte, a replay or the wrong key drops it. SDES lines as read and written. The crypto
// of a call's offer and answer under each "Шифров. медиа" choice: what is offered (fresh keys), which line is
// taken, what is refused with 488, what ends the call, what goes clear.

#include "fixturetable.h"
#include "sdescrypto.h"
#include "sdpcrypto.h"
#include "sdpsession.h"
#include "srtpsession.h"

#include <QtEndian>
#include <QtTest>

Q_DECLARE_METATYPE(SrtpSuite)

namespace {
QByteArray rtpPacket(quint16 sequence)
{
    QByteArray packet = QByteArray::fromHex("800800000000000012345678");
    qToBigEndian<quint16>(sequence, packet.data() + 2);
    qToBigEndian<quint32>(160u * sequence, packet.data() + 4);
    return packet + QByteArray(160, char(0xD5 ^ (sequence & 0xFF)));
}
const QString key80 = "1 AES_CM_128_HMAC_SHA1_80 inline:gv7xS14xO3GIjB1Z7rMTlIQh63qXhc0mSPLWRfd1";
const QString key32 = "2 AES_CM_128_HMAC_SHA1_32 inline:fpnsoYjYSafCFfAJo5+J/ID0OH9yn5cLIXi+LLKS";
const QString off = "Отключено", required = "SRTP", optional = "SRTP, если возможно"; // "Шифров. медиа"
} // namespace

class TstSrtp : public QObject
{
    Q_OBJECT

private slots:
    void session_data();
    void session();
    void parse_data() { fixtureRows("media/sdes.txt"); }
    void parse();
    void offerAnswer_data();
    void offerAnswer();
};

void TstSrtp::session_data()
{
    QTest::addColumn<SrtpSuite>("suite");
    QTest::addColumn<int>("tag");
    QTest::newRow("AES_CM_128_HMAC_SHA1_80") << SrtpSuite::AesCm128HmacSha1_80 << 10;
    QTest::newRow("AES_CM_128_HMAC_SHA1_32") << SrtpSuite::AesCm128HmacSha1_32 << 4;
}

void TstSrtp::session()
{
    QFETCH(SrtpSuite, suite);
    QFETCH(int, tag);
    const QByteArray mine = SdesCrypto::generate(1, suite).keySalt, theirs = SdesCrypto::generate(1, suite).keySalt;
    SrtpSession a, b, stranger;
    QVERIFY(a.start(suite, mine, theirs) && b.start(suite, theirs, mine) && stranger.start(suite, theirs, theirs));
    QVERIFY(!SrtpSession().start(suite, mine.left(29), theirs));

    // Across 65535 -> 0 the receiver must move to the next rollover count.
    QByteArray last;
    for (quint16 sequence = 65530; sequence != 6; ++sequence) {
        const QByteArray plain = rtpPacket(sequence);
        QByteArray packet = plain;
        // The header as it was, the payload unreadable, the tag after it.
        QVERIFY(a.protect(packet) && packet.size() == plain.size() + tag && packet.startsWith(plain.left(12)) && !packet.contains(plain.mid(12)));
        last = packet;
        QVERIFY2(b.unprotect(packet) && packet == plain, qPrintable(QString::number(sequence)));
    }
    // Dropped: a replay, a changed payload byte, a changed tag byte, the packet of another key.
    for (int fault = 0; fault < 4; ++fault) {
        QByteArray packet = rtpPacket(quint16(6 + fault));
        QVERIFY(a.protect(packet));
        packet = fault ? packet : last;
        const int at = fault == 1 ? 20 : int(packet.size()) - 1;
        packet[at] = char(packet[at] ^ (fault == 1 || fault == 2));
        QVERIFY2(!(fault == 3 ? stranger : b).unprotect(packet), qPrintable(QString::number(fault)));
    }
}

void TstSrtp::parse()
{
    QFETCH(QString, value);
    QFETCH(QString, taken);
    SdesCrypto crypto;
    // The tag, the suite's name and the 30-byte key written back as read.
    QCOMPARE(SdesCrypto::parse(value, &crypto) ? crypto.toString() : "refused", taken == "yes" ? value.section('|', 0, 0) : "refused");
}

void TstSrtp::offerAnswer_data()
{
    // The setting; who offers; the far end's profile and crypto lines ("80", "32" by the tag we offered them with,
    // "f8": a suite we lack, "tag7": a tag we never offered, "mismatch": our tag 1 with another suite); the outcome.
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("offerer");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("crypto");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("off, clear offer") << off << "far" << "RTP/AVP" << "" << "clear";
    QTest::newRow("off, keys offered in AVP: ignored") << off << "far" << "RTP/AVP" << "80" << "clear";
    QTest::newRow("off, SAVP offered") << off << "far" << "RTP/SAVP" << "80" << "488";
    QTest::newRow("off, our offer answered with keys") << off << "we" << "RTP/AVP" << "80" << "clear";
    QTest::newRow("required, SAVP offer") << required << "far" << "RTP/SAVP" << "80" << "srtp 80";
    QTest::newRow("required, keys in AVP, short tag") << required << "far" << "RTP/AVP" << "32" << "srtp 32";
    QTest::newRow("required, offer without a=crypto") << required << "far" << "RTP/AVP" << "" << "488";
    QTest::newRow("required, only a suite we lack") << required << "far" << "RTP/SAVP" << "f8" << "488";
    QTest::newRow("required, the first line we support") << required << "far" << "RTP/SAVP" << "f8,32,80" << "srtp 32";
    QTest::newRow("required, answered") << required << "we" << "RTP/SAVP" << "80" << "srtp 80";
    QTest::newRow("required, answered with the short tag") << required << "we" << "RTP/SAVP" << "32" << "srtp 32";
    QTest::newRow("required, answer without a=crypto") << required << "we" << "RTP/AVP" << "" << "end";
    QTest::newRow("required, answer with a tag never offered") << required << "we" << "RTP/SAVP" << "tag7" << "end";
    QTest::newRow("required, answer with another suite under our tag") << required << "we" << "RTP/SAVP" << "mismatch" << "end";
    QTest::newRow("optional, clear offer") << optional << "far" << "RTP/AVP" << "" << "clear";
    QTest::newRow("optional, keys offered") << optional << "far" << "RTP/AVP" << "80" << "srtp 80";
    QTest::newRow("optional, SAVP with a suite we lack") << optional << "far" << "RTP/SAVP" << "f8" << "488";
    QTest::newRow("optional, answered clear") << optional << "we" << "RTP/AVP" << "" << "clear";
    QTest::newRow("optional, answered with keys") << optional << "we" << "RTP/AVP" << "80" << "srtp 80";
    QTest::newRow("optional, SAVP answer without keys") << optional << "we" << "RTP/SAVP" << "" << "end";
}

void TstSrtp::offerAnswer()
{
    QFETCH(QString, setting);
    QFETCH(QString, offerer);
    QFETCH(QString, profile);
    QFETCH(QString, crypto);
    QFETCH(QString, outcome);
    SdpCrypto call(mediaEncryption(setting));
    SdpSession far = SdpSession::offer(SdpOrigin::newSession("127.0.0.2"), 4000, {});
    far.mediaProtocol = profile;
    const QMap<QString, QString> line{{"80", key80}, {"32", key32}, {"f8", "1 F8_128_HMAC_SHA1_80 inline:" + key80.section(':', 1)},
                                      {"tag7", "7" + key80.mid(1)}, {"mismatch", "1" + key32.mid(1)}};
    QStringList farLines;
    for (const QString &name : crypto.split(',', Qt::SkipEmptyParts))
        far.addAttribute("crypto", (farLines << line[name]).last());
    QString outcomeSeen;
    if (offerer == "we") {
        SdpSession offer = SdpSession::offer(SdpOrigin::newSession("127.0.0.1"), 5000, {});
        call.addToOffer(offer);
        // Required SRTP offers SAVP, the other choices AVP; keys unless it is off, fresh for each offer.
        const QStringList lines = offer.attributes("crypto");
        const QString suites = setting == off ? "" : " 1 AES_CM_128_HMAC_SHA1_80 k 2 AES_CM_128_HMAC_SHA1_32 k";
        QCOMPARE(QString(offer.mediaProtocol + ' ' + lines.join(' ')).replace(QRegularExpression("inline:\\S+"), "k").trimmed(),
                 (setting == required ? "RTP/SAVP" : "RTP/AVP") + suites);
        SdpSession again = offer;
        SdpCrypto(call.mode).addToOffer(again);
        const QStringList keys = QStringList(lines + again.attributes("crypto")).replaceInStrings(QRegularExpression(".*inline:"), "");
        QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()).size(), 2 * lines.size());
        outcomeSeen = call.takeAnswer(far) ? "" : "end";
        // The offerer keeps the key it offered under the answer's tag.
        QVERIFY(!call.active() || lines.contains(call.ours().toString()));
    } else {
        SdpSession answer = SdpSession::answer(far, {});
        outcomeSeen = call.answerOffer(far, answer) ? "" : "488";
        // The answer mirrors the offer's profile and carries our own key under the offer's tag.
        QCOMPARE(answer.attributes("crypto"), call.active() ? QStringList{call.ours().toString()} : QStringList());
        QCOMPARE(answer.mediaProtocol, profile);
    }
    if (outcomeSeen.isEmpty())
        outcomeSeen = call.active() ? "srtp " + SdesCrypto::suiteName(call.ours().suite).right(2) : "clear";
    QCOMPARE(outcomeSeen, outcome);
    QVERIFY(!call.active() || (farLines.contains(call.theirs().toString()) && call.ours().suite == call.theirs().suite
                               && call.ours().keySalt != call.theirs().keySalt && call.ours().keySalt.size() == SdesCrypto::keySaltLength));
}

QTEST_GUILESS_MAIN(TstSrtp)
#include "tst_srtp.moc"
