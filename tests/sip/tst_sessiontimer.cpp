// Session timers (RFC 4028): what an INVITE's Session-Expires is answered with and what a 2xx settles, the refresh
// at half the interval, and a session nobody refreshed ending at interval - min(32, interval/3).

#include "sessiontimer.h"

#include <QLoggingCategory>
#include <QtTest>

class TstSessionTimer : public QObject
{
    Q_OBJECT

private slots:
    // "status interval refresher weRefresh Require" and the Session-Expires the 2xx carries
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }

    void negotiated_data()
    {
        QTest::addColumn<QString>("side");
        QTest::addColumn<QString>("sessionExpires");
        QTest::addColumn<bool>("supported");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("uas: not asked") << "uas" << "" << true << "200 0";
        QTest::newRow("uas: asked, no refresher") << "uas" << "90" << true << "200 90;refresher=uas us";
        QTest::newRow("uas: uac refreshes") << "uas" << "1800;refresher=uac" << true << "200 1800;refresher=uac Require";
        QTest::newRow("uas: uas asked") << "uas" << "1800 ; refresher=uas" << true << "200 1800;refresher=uas us";
        QTest::newRow("uas: uac cannot refresh") << "uas" << "600;refresher=uac" << false << "200 600;refresher=uas us";
        QTest::newRow("uas: too small") << "uas" << "89;refresher=uac" << true << "422 Min-SE 90";
        QTest::newRow("uas: too small, put in by a proxy") << "uas" << "30" << false << "422 Min-SE 90";
        QTest::newRow("uas: other parameters") << "uas" << "300;x=1;refresher=uac;y" << true << "200 300;refresher=uac Require";
        QTest::newRow("uas: garbage") << "uas" << "abc;refresher=uac" << true << "200 0";
        QTest::newRow("uas: negative") << "uas" << "-90" << true << "200 0";
        QTest::newRow("uac: no timer in the 2xx") << "uac" << "" << true << "200 0";
        QTest::newRow("uac: we refresh") << "uac" << "1800;refresher=uac" << true << "200 1800;refresher=uac Require us";
        QTest::newRow("uac: far end refreshes") << "uac" << "900;refresher=uas" << true << "200 900;refresher=uas";
        QTest::newRow("uac: nobody named") << "uac" << "120" << true << "200 120;refresher=uac Require us";
    }
    void negotiated()
    {
        QFETCH(QString, side);
        QFETCH(QString, sessionExpires);
        QFETCH(bool, supported);
        const SessionTimer::Outcome o = side == "uas" ? SessionTimer::answerRequest(sessionExpires, supported)
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

    void retryAfter422()
    {
        QCOMPARE(SessionTimer::retryInterval("300", 90), 300);
        QCOMPARE(SessionTimer::retryInterval(" 120 ", 1800), 1800);
        QCOMPARE(SessionTimer::retryInterval("x", 60), 90);
    }

    void schedule_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("refresh");
        QTest::addColumn<qint64>("expiry");
        QTest::newRow("90 s") << 90 << qint64(45000) << qint64(60000);
        QTest::newRow("60 s: a third") << 60 << qint64(30000) << qint64(40000);
        QTest::newRow("1800 s: 32 s before") << 1800 << qint64(900000) << qint64(1768000);
    }
    void schedule()
    {
        QFETCH(int, interval);
        QTEST(SessionTimer::refreshMs(interval), "refresh");
        QTEST(SessionTimer::expiryMs(interval), "expiry");
    }

    // A running session with 5 ms seconds: "R" refresh due, "E" expired; a refresh restarts when `answered`.
    void running_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("weRefresh");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("events");
        QTest::newRow("we refresh, each refresh answered") << 90 << true << true << "RRR";
        QTest::newRow("we refresh, no answer") << 90 << true << false << "RE";
        QTest::newRow("far end never refreshes") << 90 << false << false << "E";
        QTest::newRow("no interval") << 0 << true << true << "";
    }
    void running()
    {
        QFETCH(int, interval);
        QFETCH(bool, weRefresh);
        QFETCH(bool, answered);
        QFETCH(QString, events);
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
