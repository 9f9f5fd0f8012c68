// SRTP keying: SDES lines as read and written, and the crypto of a call's offer and answer under each
// "Шифров. медиа" choice: what is offered (fresh keys), which line is taken, what is refused with 488, what
// ends the call, what goes clear.

#include "fixturetable.h"
#include "sdescrypto.h"
#include "sdpcrypto.h"
#include "sdpsession.h"

#include <QtTest>

namespace {
const QString key80 = "1 AES_CM_128_HMAC_SHA1_80 inline:gv7xS14xO3GIjB1Z7rMTlIQh63qXhc0mSPLWRfd1";
const QString key32 = "2 AES_CM_128_HMAC_SHA1_32 inline:fpnsoYjYSafCFfAJo5+J/ID0OH9yn5cLIXi+LLKS";
const QString off = "Отключено", required = "SRTP", optional = "SRTP, если возможно"; // "Шифров. медиа"
} // namespace

class TstSrtp : public QObject
{
    Q_OBJECT

private slots:
    void parse_data() { fixtureRows("media/sdes.txt"); }
    void parse()
    {
        QFETCH(QString, value);
        SdesCrypto crypto;
        // The tag, the suite's name and the 30-byte key written back as read.
        QCOMPARE(SdesCrypto::parse(value, &crypto) ? crypto.toString() : "refused", cell("taken") == "yes" ? value.section('|', 0, 0) : "refused");
    }

    void offerAnswer_data()
    {
        // The setting; who offers; the far end's profile and crypto lines ("80", "32" by the tag we offered them with,
        // "f8": a suite we lack, "tag7": a tag we never offered, "mismatch": our tag 1 with another suite); the outcome.
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("offerer");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("crypto");
        QTest::addColumn<QString>("outcome");
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

    void offerAnswer()
    {
        QFETCH(QString, setting);
        QFETCH(QString, offerer);
        QFETCH(QString, profile);
        SdpCrypto call(mediaEncryption(setting));
        SdpSession far = SdpSession::offer(SdpOrigin::newSession("127.0.0.2"), 4000, {});
        far.mediaProtocol = profile;
        const QMap<QString, QString> line{{"80", key80}, {"32", key32}, {"f8", "1 F8_128_HMAC_SHA1_80 inline:" + key80.section(':', 1)},
                                          {"tag7", "7" + key80.mid(1)}, {"mismatch", "1" + key32.mid(1)}};
        QStringList farLines;
        for (const QString &name : cell("crypto").split(',', Qt::SkipEmptyParts))
            far.addAttribute("crypto", (farLines << line[name]).last());
        bool taken;
        if (offerer == "we") {
            // Required SRTP offers SAVP, the other choices AVP; keys unless it is off, fresh for each offer.
            SdpSession offer = SdpSession::offer(SdpOrigin::newSession("127.0.0.1"), 5000, {}), earlier = offer;
            call.addToOffer(earlier), call.addToOffer(offer);
            const QStringList lines = offer.attributes("crypto");
            const QString suites = setting == off ? "" : " 1 AES_CM_128_HMAC_SHA1_80 k 2 AES_CM_128_HMAC_SHA1_32 k";
            QCOMPARE(QString(offer.mediaProtocol + ' ' + lines.join(' ')).replace(QRegularExpression("inline:\\S+"), "k").trimmed(),
                     (setting == required ? "RTP/SAVP" : "RTP/AVP") + suites);
            const QStringList keys = QStringList(lines + earlier.attributes("crypto")).replaceInStrings(QRegularExpression(".*inline:"), "");
            QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()).size(), 2 * lines.size());
            taken = call.takeAnswer(far);
            // The offerer keeps the key it offered under the answer's tag.
            QVERIFY(!call.active() || lines.contains(call.ours().toString()));
        } else {
            SdpSession answer = SdpSession::answer(far, {});
            taken = call.answerOffer(far, answer);
            // The answer mirrors the offer's profile and carries our own key under the offer's tag.
            QCOMPARE(answer.attributes("crypto"), call.active() ? QStringList{call.ours().toString()} : QStringList());
            QCOMPARE(answer.mediaProtocol, profile);
        }
        QTEST(!taken ? (offerer == "we" ? "end" : "488") : call.active() ? "srtp " + SdesCrypto::suiteName(call.ours().suite).right(2) : "clear", "outcome");
        QVERIFY(!call.active() || (farLines.contains(call.theirs().toString()) && call.ours().suite == call.theirs().suite
                                   && call.ours().keySalt != call.theirs().keySalt && call.ours().keySalt.size() == SdesCrypto::keySaltLength));
    }
};

QTEST_GUILESS_MAIN(TstSrtp)
#include "tst_srtp.moc"
