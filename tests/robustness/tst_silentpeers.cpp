// An unreachable or silent SIP server gets REGISTER every 5 s from a responsive phone; a silent STUN
// server costs a settings load at most 3 s per lookup.
#include "fakestunserver.h"
#include "looplatency.h"
#include "mainwindow.h"
#include "siptestserver.h"
#include "testmain.h"
#include "testphone.h"

#include <QElapsedTimer>
#include <QtTest>

class TstSilentPeers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keepsRegistering();
    void silentStun();

private:
    static int registersSent(const QString &logFile);
};

void TstSilentPeers::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

int TstSilentPeers::registersSent(const QString &logFile)
{
    QFile f(logFile);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().count("!!! Tx: !!!: REGISTER sip:");
}

void TstSilentPeers::keepsRegistering()
{
    const quint16 port = SipTestServer::freePort();
    QVERIFY(port);
    MainWindow *w = TestPhone::create("127.0.0.2", QString::number(port), "100", "pw");
    QScopedPointer<MainWindow> owner(w);
    const QString log = w->logFilePath;
    const int before = registersSent(log);
    QVERIFY(before >= 0);

    // Nothing listens: each REGISTER comes back as ICMP port unreachable.
    LoopLatency loop;
    loop.start();
    w->show();
    QTest::qWait(11000);
    loop.stop();
    const int unreachable = registersSent(log) - before;
    QVERIFY2(unreachable >= 2 && unreachable <= 5, qPrintable(QString::number(unreachable)));
    QVERIFY2(loop.worstLateMs <= LoopLatency::allowedLateMs(100), qPrintable(QStringLiteral("timer late by %1 ms").arg(loop.worstLateMs)));

    // The port opens but nobody answers: still every 5 s, no faster.
    SipTestServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.2"), port));
    QElapsedTimer clock;
    clock.start();
    // Retransmissions of one REGISTER keep its Call-ID; a new REGISTER has a
    // new one. The first to arrive may be a retransmission: time the next two.
    QList<qint64> starts;
    QString last;
    for (int i = 0; starts.size() < 3; ++i) {
        QVERIFY(server.waitFor(i + 1, 7000));
        const QString callId = server.texts().value(i).section("Call-ID: ", 1).section("\r\n", 0, 0);
        if (callId != last)
            starts << clock.elapsed();
        last = callId;
    }
    const qint64 gap = starts[2] - starts[1];
    QVERIFY2(gap >= 4000 && gap <= 6500, qPrintable(QStringLiteral("%1 ms between REGISTERs").arg(gap)));
    for (const QString &text : server.texts())
        QVERIFY(text.startsWith("REGISTER sip:"));
}

void TstSilentPeers::silentStun()
{
    FakeStunServer stun;
    stun.silent = true;
    MainWindow *w = TestPhone::create("127.0.0.2", QString::number(SipTestServer::freePort()), "100", "pw");
    QScopedPointer<MainWindow> owner(w);
    QVERIFY(TestPhone::storeSetting(w, "STUN", stun.url()));

    QElapsedTimer clock;
    clock.start();
    w->getSettingsDB();
    const qint64 took = clock.elapsed();
    // One lookup for the SIP port and one for the media port.
    QCOMPARE(stun.requests.size(), 2);
    QVERIFY2(took <= 2 * 3000 + 1000, qPrintable(QStringLiteral("settings load took %1 ms").arg(took)));
    QVERIFY(w->stunIpS.isEmpty());
    QVERIFY(w->stunIpM.isEmpty());
}

SORVANTO_TEST_MAIN(TstSilentPeers)
#include "tst_silentpeers.moc"
