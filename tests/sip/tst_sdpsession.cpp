// The session description: the exact text written (RFC 4566 order, s=-, telephone-event, refused streams), what is
// read from far ends' bodies (each way of holding, static types, garbage, bounds), and the answer to an offer.

#include "fixturetable.h"
#include "sdpsession.h"

#include <QtTest>

namespace {
QString formats(const SdpSession &s)
{
    QStringList out;
    for (const SdpFormat &f : s.formats)
        out << QStringLiteral("%1 %2/%3%4%5").arg(f.payloadType).arg(f.encoding).arg(f.clockRate)
                   .arg(f.channels > 1 ? "/" + QString::number(f.channels) : QString())
                   .arg(f.fmtp.isEmpty() ? QString() : " " + f.fmtp);
    return "[" + out.join(',') + "]";
}

QString describe(const SdpSession &s)
{
    return QStringLiteral("%1:%2 %3 %4 ptime=%5 recv=%6 send=%7 crypto=%8")
        .arg(s.address()).arg(s.mediaPort).arg(formats(s), sdpDirectionName(s.direction)).arg(s.ptime)
        .arg(s.wantsToReceive()).arg(s.wantsToSend()).arg(s.attributes("crypto").join(';'));
}
} // namespace

class TstSdpSession : public QObject
{
    Q_OBJECT

private slots:
    void written_data() { fixtureRows("sip/sdp-written.txt"); }
    void written()
    {
        QFETCH(QString, input);
        QTEST(SdpSession::fromText(input).toText(), "written");
    }

    void read_data() { fixtureRows("sip/sdpsession.txt"); }
    void read()
    {
        QFETCH(QString, body);
        QTEST(describe(SdpSession::fromText(body)), "read");
    }

    void answer_data() { fixtureRows("sip/sdpanswer.txt"); }
    void answer()
    {
        QFETCH(QString, offer);
        QFETCH(QString, enabled);
        SdpFormats ours;
        for (const QString &name : enabled.split(','))
            ours << (name == "opus" ? SdpFormat{111, name, 48000, 2, QString()} : SdpFormat{96, name, 8000, 1, QString()});
        const SdpSession a = SdpSession::answer(SdpSession::fromText(offer), ours);
        QTEST(formats(a) + " " + sdpDirectionName(a.direction) + " " + a.otherMedia.join(',') + "@"
                  + QString::number(a.audioIndex), "answer");
    }

    // A random session id per call (our offer's text, the version one up in each description: tst_builders).
    void origin()
    {
        const SdpOrigin first = SdpOrigin::newSession("10.0.0.1"), second = SdpOrigin::newSession("10.0.0.1");
        QVERIFY(first.sessionId != second.sessionId && first.sessionId > 0 && first.sessionId < (1u << 30));
    }
};

QTEST_GUILESS_MAIN(TstSdpSession)
#include "tst_sdpsession.moc"
