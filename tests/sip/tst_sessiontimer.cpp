// Session timers (RFC 4028): what an INVITE's Session-Expires is answered with and what a 2xx settles, the refresh
// at half the interval, and a session nobody refreshed ending at interval - min(32, interval/3). (A running
// session's refreshes, answered and not: tst_processing sessionTimer.)

#include "fixturetable.h"
#include "sessiontimer.h"

#include <QLoggingCategory>
#include <QtTest>

class TstSessionTimer : public QObject
{
    Q_OBJECT

private slots:
    void negotiated_data() { fixtureRows("sip/session-timer.txt"); }
    void negotiated()
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
    void schedule()
    {
        QCOMPARE(QStringList({QString::number(SessionTimer::retryInterval("300", 90)), QString::number(SessionTimer::retryInterval(" 120 ", 1800)),
                              QString::number(SessionTimer::retryInterval("x", 60))}).join(' '), QString("300 1800 90"));
        QStringList ms;
        for (int interval : {90, 60, 1800})
            ms << QString::number(SessionTimer::refreshMs(interval)) + "/" + QString::number(SessionTimer::expiryMs(interval));
        QCOMPARE(ms.join(' '), QString("45000/60000 30000/40000 900000/1768000"));
    }
};

QTEST_GUILESS_MAIN(TstSessionTimer)
#include "tst_sessiontimer.moc"
