// The real phone SIGKILLed 50 times: at random, while ringing, in an answered call and after
// writing a call. Each next start takes over the stale lock, and the database stays whole with
// every history row it had.
#include "phoneprocess.h"
#include "siptestserver.h"
#include "siptexts.h"
#include "sqlpeek.h"
#include "xvfbserver.h"

#include <QRandomGenerator>
#include <QtTest>

// The incoming-call window and its answer button, in window coordinates.
const QString kIncomingWindow = QStringLiteral("Bходящий");
const QPoint kAnswerButton(64, 192);

class TstFaults : public QObject
{
    Q_OBJECT

private slots:
    void killedAtRandom();

private:
    static int logCount(const QString &file, const QByteArray &text);
};

int TstFaults::logCount(const QString &file, const QByteArray &text)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll().count(text) : 0;
}

void TstFaults::killedAtRandom()
{
    const quint16 port = SipTestServer::freePort();
    QVERIFY(port);
    SipTestServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.2"), port));
    // A display, so that a call can be answered the way a user does.
    XvfbServer xvfb;
    QVERIFY2(xvfb.start(), qPrintable(xvfb.errorString()));

    // A first clean start builds the database; then the account points at
    // our server and a few calls are on record already.
    PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
    QVERIFY2(phone.seed({{"sipServerIp", "127.0.0.2"}, {"sipServerPort", QString::number(port)}, {"user", "100"},
                         {"login", "100"}, {"password", "pw"}, {"STUN", ""}}),
             qPrintable(phone.errorString()));
    const int seeded = 20;
    {
        SqlPeek db(phone.databaseFile());
        for (int i = 0; i < seeded; ++i)
            QVERIFY(db.exec("INSERT INTO history (called, ctime, time, info) VALUES (?, ?, '00:00:10', 'Out')",
                            {QString::number(300 + i), "01.02.2026 10:00:00"}));
    }

    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("random seed %u", seed);
    QRandomGenerator rng(seed);
    int rows = seeded;
    const QByteArray written = "!!!!! setHistoryDB OK";
    for (int run = 0; run < 50; ++run) {
        const int kind = run % 10;
        const QString callId = QStringLiteral("kill%1").arg(run);
        server.clear();
        QVERIFY(phone.launch(xvfb.display()));
        if (kind < 6) {
            // Anywhere from before the lock to a running phone.
            QTest::qWait(int(rng.bounded(1200)));
        } else {
            // Up and registering means the lock was taken over.
            QVERIFY2(server.waitFor(1, 15000), qPrintable(QStringLiteral("run %1: no REGISTER").arg(run)));
            // Sent again until it rings, as a server's INVITE transaction does
            // over UDP: the phone may still be setting up its socket.
            const qint64 mark = phone.logSize();
            bool ringing = false;
            for (int i = 0; i < 10 && !ringing; ++i) {
                server.send(SipTexts::invite(callId, port));
                ringing = QTest::qWaitFor(
                    [&] { return server.texts().join('\n').contains("SIP/2.0 180 Ringing"); }, 500);
                if (!ringing)
                    qInfo("run %d: INVITE %d unanswered; log:\n%s", run, i + 1, qPrintable(phone.log(mark).right(2000)));
            }
            QVERIFY2(ringing, qPrintable(QStringLiteral("run %1: no 180 Ringing").arg(run)));
            if (kind == 9) {
                // Cancelled: the call is written when the busy tone ends.
                const int before = logCount(phone.logFile(), written);
                server.send(SipTexts::cancel(callId, port));
                QTRY_VERIFY_WITH_TIMEOUT(logCount(phone.logFile(), written) > before, 10000);
            } else if (kind == 8) {
                // Answered: killed while the call is up and its audio runs.
                const QString window = phone.findWindow(kIncomingWindow, 8000);
                QVERIFY2(!window.isEmpty(), qPrintable(QStringLiteral("run %1: no incoming-call window").arg(run)));
                QVERIFY(phone.click(window, kAnswerButton.x(), kAnswerButton.y()));
                QTRY_VERIFY_WITH_TIMEOUT(server.texts().join('\n').contains("SIP/2.0 200 OK"), 5000);
                server.send(SipTexts::ack(callId, port));
                QTest::qWait(int(rng.bounded(1500)));
            } else {
                QTest::qWait(int(rng.bounded(300)));
            }
        }
        phone.kill();

        SqlPeek db(phone.databaseFile());
        const QVariantList check = db.column("PRAGMA integrity_check");
        QCOMPARE(check.value(0).toString(), QString("ok"));
        const int now = db.column("SELECT count(*) FROM history").value(0).toInt();
        QVERIFY2(now >= rows, qPrintable(QStringLiteral("run %1: %2 rows, had %3").arg(run).arg(now).arg(rows)));
        // Every write the log confirmed is in the file.
        QVERIFY(now >= seeded + logCount(phone.logFile(), written));
        rows = now;
    }
    QVERIFY(rows >= seeded + 5);

    // The lock file of a killed copy is taken over at once.
    const qint64 mark = phone.logSize();
    QVERIFY(phone.launch());
    QVERIFY2(phone.waitForLog("!!! showEvent", 30000, mark), qPrintable(phone.console().right(3000)));
    QVERIFY(phone.running());
    phone.stop();
}

QTEST_GUILESS_MAIN(TstFaults)
#include "tst_faults.moc"
