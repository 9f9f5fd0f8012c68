// The session description: the exact text written (RFC 4566 order, s=-, telephone-event, refused streams), what is
// read from far ends' bodies (each way of holding, static types, garbage, bounds), and the answer to an offer.

#include "fixturetable.h"
#include "sdpsession.h"

#include <QtTest>

namespace {
SdpFormat format(int payloadType, const QString &encoding, int clockRate = 8000, int channels = 1)
{
    SdpFormat f;
    f.payloadType = payloadType;
    f.encoding = encoding;
    f.clockRate = clockRate;
    f.channels = channels;
    return f;
}

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
            ours << (name == "opus" ? format(111, name, 48000, 2) : format(96, name));
        const SdpSession a = SdpSession::answer(SdpSession::fromText(offer), ours);
        QTEST(formats(a) + " " + sdpDirectionName(a.direction) + " " + a.otherMedia.join(',') + "@"
                  + QString::number(a.audioIndex), "answer");
    }

    // A random session id per call, the version one up for each description; our offer.
    void origin()
    {
        const SdpOrigin first = SdpOrigin::newSession("10.0.0.1"), second = SdpOrigin::newSession("10.0.0.1");
        QVERIFY(first.sessionId != second.sessionId);
        QVERIFY(first.sessionId > 0 && first.sessionId < (1u << 30));
        const SdpOrigin next = first.next();
        QCOMPARE(next.sessionId, first.sessionId);
        QCOMPARE(next.version, first.version + 1);
        const SdpSession offer = SdpSession::offer({"-", 7, 8, "10.0.0.1"}, 4000, {format(0, "PCMU")});
        QCOMPARE(offer.toText(), QString("v=0\r\no=- 7 8 IN IP4 10.0.0.1\r\ns=-\r\nc=IN IP4 10.0.0.1\r\nt=0 0\r\nm=audio 4000 RTP/AVP 0 101\r\n"
                                         "a=sendrecv\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\n"
                                         "a=ptime:20\r\n"));
    }
};

QTEST_GUILESS_MAIN(TstSdpSession)
#include "tst_sdpsession.moc"
