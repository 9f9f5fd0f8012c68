// The session description: the exact text written (RFC 4566 order, s=-, telephone-event, refused streams), what is
// read from far ends' bodies (each way of holding, static types, garbage, bounds), and the answer to an offer.

#include "fixturetable.h"
#include "sdpsession.h"

#include <QtTest>

Q_DECLARE_METATYPE(SdpSession)

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
    void written_data()
    {
        QTest::addColumn<SdpSession>("session");
        QTest::addColumn<QString>("text");
        SdpSession offer;
        offer.origin = {"-", 1234, 1235, "192.168.0.10"};
        offer.connectionAddress = "192.168.0.10";
        offer.hasAudio = true;
        offer.mediaPort = 60000;
        offer.formats = {format(8, "PCMA"), format(0, "PCMU"), SdpSession::telephoneEvent()};
        offer.ptime = 20;
        QTest::newRow("offer") << offer
            << "v=0\r\no=- 1234 1235 IN IP4 192.168.0.10\r\ns=-\r\nc=IN IP4 192.168.0.10\r\nt=0 0\r\n"
               "m=audio 60000 RTP/AVP 8 0 101\r\na=sendrecv\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n"
               "a=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\na=ptime:20\r\n";
        SdpSession held = offer;
        held.mediaConnectionAddress = "203.0.113.5";
        held.direction = SdpDirection::RecvOnly;
        held.formats = {format(111, "opus", 48000, 2)};
        held.formats.first().fmtp = "useinbandfec=1";
        held.otherMedia = QStringList{"video 0 RTP/AVP 31", "text 0 RTP/AVP 98"};
        held.audioIndex = 1;
        held.addAttribute("crypto", "1 AES_CM_128_HMAC_SHA1_80 inline:abc");
        held.addAttribute("rtcp-mux");
        QTest::newRow("answer on hold, public address, refused streams around")
            << held
            << "v=0\r\no=- 1234 1235 IN IP4 192.168.0.10\r\ns=-\r\nc=IN IP4 192.168.0.10\r\nt=0 0\r\n"
               "m=video 0 RTP/AVP 31\r\nm=audio 60000 RTP/AVP 111\r\nc=IN IP4 203.0.113.5\r\na=recvonly\r\n"
               "a=rtpmap:111 opus/48000/2\r\na=fmtp:111 useinbandfec=1\r\na=ptime:20\r\n"
               "a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:abc\r\na=rtcp-mux\r\nm=text 0 RTP/AVP 98\r\n";
    }
    void written()
    {
        QFETCH(SdpSession, session);
        QTEST(session.toText(), "text");
        // and read back as written
        QCOMPARE(describe(SdpSession::fromText(session.toText())), describe(session));
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

    void origin()
    {
        const SdpOrigin first = SdpOrigin::newSession("10.0.0.1"), second = SdpOrigin::newSession("10.0.0.1");
        QVERIFY(first.sessionId != second.sessionId);
        QVERIFY(first.sessionId > 0 && first.sessionId < (1u << 30));
        const SdpOrigin next = first.next();
        QCOMPARE(next.sessionId, first.sessionId);
        QCOMPARE(next.version, first.version + 1);
        QCOMPARE(next.next().version, first.version + 2);
    }
};

QTEST_GUILESS_MAIN(TstSdpSession)
#include "tst_sdpsession.moc"
