// Session timers (RFC 4028): what an INVITE's Session-Expires is answered with and what a 2xx settles, the refresh
// at half the interval, and a session nobody refreshed ending at interval - min(32, interval/3).

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

    // A running session with 5 ms seconds (tests/data/sip/session-running.txt).
    void running_data() { fixtureRows("sip/session-running.txt"); }
    void running()
    {
        QFETCH(QString, setup); // interval, who refreshes, whether each refresh is answered
        QFETCH(QString, events);
        const QStringList v = setup.split(' ');
        const int interval = v[0].toInt();
        const bool weRefresh = v[1] == "us", answered = v[2] == "answered";
        SessionTimer timer;
        timer.setSecondMs(5);
        QString seen;
        connect(&timer, &SessionTimer::refreshDue, [&] {
            seen += 'R';
            if (answered)
                timer.restart();
        });
        connect(&timer, &SessionTimer::expired, [&] { seen += 'E'; });
        timer.start(interval, weRefresh);
        if (events.isEmpty())
            QTest::qWait(400);
        else
            QVERIFY(QTest::qWaitFor([&] { return seen.size() >= events.size() || seen.contains('E'); }, 5000));
        timer.stop();
        QCOMPARE(seen, events);
    }
};

QTEST_GUILESS_MAIN(TstSessionTimer)
#include "tst_sessiontimer.moc"
