// The session description: the exact text written (RFC 4566 order, s=-, telephone-event, refused streams), what is
// read from far ends' bodies (each way of holding, static types, garbage, bounds), and the answer to an offer.
// Session timers (RFC 4028): what an INVITE's Session-Expires is answered with and what a 2xx settles, the refresh
// at half the interval, and a session nobody refreshed ending at interval - min(32, interval/3). (A running
// session's refreshes, answered and not: tst_processing sessionTimer.)

#include "fixturetable.h"
#include "sdpsession.h"
#include "sessiontimer.h"

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

    // A random session id per call (our offer's text, the version one up in each description: tst_processing wireText).
    void origin()
    {
        const SdpOrigin first = SdpOrigin::newSession("10.0.0.1"), second = SdpOrigin::newSession("10.0.0.1");
        QVERIFY(first.sessionId != second.sessionId && first.sessionId > 0 && first.sessionId < (1u << 30));
    }

    void timerNegotiated_data() { fixtureRows("sip/session-timer.txt"); }
    void timerNegotiated()
    {
        QFETCH(QString, side);
        QFETCH(QString, sessionExpires);
        QFETCH(QString, supported);
        const SessionTimer::Outcome o = side == "uas" ? SessionTimer::answerRequest(sessionExpires, supported == "1")
                                                      : SessionTimer::fromAnswer(sessionExpires);
        QString text = QString::number(o.status);
        if (o.status == 422)
            text += " Min-SE " + QString::number(o.minSe);
        else if (o.interval == 0)
            text += " 0";
        else
            text += " " + SessionTimer::sessionExpiresText(o) + (SessionTimer::requireTimer(o) ? " Require" : "")
                + (o.weRefresh ? " us" : "");
        QTEST(text, "outcome");
    }

    // After a 422 the interval asked is its Min-SE, never below 90; refreshes at half the interval; the end at 60 s of
    // 90, a third early for 60 s, 32 s early for 1800 s.
    void timerSchedule()
    {
        QCOMPARE(QStringList({QString::number(SessionTimer::retryInterval("300", 90)), QString::number(SessionTimer::retryInterval(" 120 ", 1800)),
                              QString::number(SessionTimer::retryInterval("x", 60))}).join(' '), QString("300 1800 90"));
        QStringList ms;
        for (int interval : {90, 60, 1800})
            ms << QString::number(SessionTimer::refreshMs(interval)) + "/" + QString::number(SessionTimer::expiryMs(interval));
        QCOMPARE(ms.join(' '), QString("45000/60000 30000/40000 900000/1768000"));
    }
};

QTEST_GUILESS_MAIN(TstSdpSession)
#include "tst_sdpsession.moc"
