// Floods, faults and hostile or silent peers, each proved once. 10,000 messages from a stranger are
// never processed (random bytes: the fuzz targets). A flood of 10,000 RTP packets keeps the playback buffer
// within its bound (datagrams shorter than a header: fuzz_rtp), and the call goes on: media that a re-INVITE
// moves to another address is followed. Broken SDP (tests/data/sip/hostile-sdp.txt) still rings or connects.
// A silent STUN server leaves the configured media port; a SIP server that is unreachable, then silent, gets
// a REGISTER every few seconds, no faster. A read-only data directory shows the database-error box, one that
// fills up loses call rows quietly, and the phone runs on. The real phone SIGKILLed 30 times takes over its
// stale lock and keeps its database whole.
#include "fixturetable.h"

#include <QRegularExpression>
#include <QSet>
#include "agentfixture.h"
#include "application.h"
#include "audiothread.h"
#include "boxwatcher.h"
#include "mainwindow.h"
#include "networkenvironment.h"
#include "phoneprocess.h"
#include "rtp.h"
#include "rtppeer.h"
#include "sip.h"
#include "siptestserver.h"
#include "sqlpeek.h"
#include "testmain.h"
#include "testphone.h"
#include "udpsocket.h"

#include <QUdpSocket>
#include <QRandomGenerator>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>

class TstRobustness : public QObject
{
    Q_OBJECT

    QScopedPointer<SipTestServer> server;
    quint16 port = SipTestServer::freePort();
    QScopedPointer<Application> app;
    MainWindow *w = nullptr;

    // Sends `total` datagrams `make(i)`; the phone reads after each hundred.
    template <class Make> void flood(QUdpSocket &from, quint16 to, int total, Make make)
    {
        for (int i = 0; i < total; ++i) {
            from.writeDatagram(make(i), QHostAddress(QHostAddress::LocalHost), to);
            if (i % 100 == 99)
                QTest::qWait(10);
        }
    }
    bool ringing() const { return server->texts().join('\n').contains("SIP/2.0 180 Ringing"); }
    bool answered(const QString &body)
    {
        server->send(AgentFixture::request("INVITE", "hostile", "1", {}, body));
        if (!QTest::qWaitFor([this] { return ringing(); }, 3000))
            return false;
        w->answerSlot();
        return QTest::qWaitFor([this] { return w->audioActive(); }, 3000);
    }
    // A call ends (its row goes nowhere), and the phone still registers.
    void callEndsAndRegisters()
    {
        w->called = "200";
        w->info = "Out";
        w->audioStopSlot();
        server->received.clear();
        w->timerRegisterExpiredSlot();
        QVERIFY(server->waitFor(1, 10000));
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        server.reset(new SipTestServer); // a socket binds once
        app.reset(TestPhone::create("127.0.0.2", QString::number(port), "100", "pw"));
        QVERIFY(server->listen(QHostAddress("127.0.0.2"), port));
        app->start();
        QVERIFY(server->waitFor(1));
        w = app->window;
        server->received.clear();
    }
    void cleanup() { app.reset(); w = nullptr; }

    void sipFromStranger()
    {
        QSignalSpy rings(w, &MainWindow::dialogWinShowSignal), registered(w, &MainWindow::registeredSignal);
        QList<QByteArray> kinds{QByteArray("INVITE ") + QByteArray(60000, 'a'),
                                      "SIP/2.0 200 OK\r\nCSeq: 1 REGISTER\r\nCall-ID: r\r\nContent-Length: 0\r\n\r\n"};
        for (const char *method : {"OPTIONS", "INVITE", "CANCEL"})
            kinds << AgentFixture::request(method, "f").toUtf8();
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress("127.0.0.3"), 0));
        flood(stranger, port, 10000, [&](int i) { return kinds.at(i % kinds.size()); });
        QCOMPARE(rings.size() + registered.size(), 0);
        QVERIFY(!stranger.hasPendingDatagrams());
        for (const QString &text : server->texts())
            QVERIFY2(text.startsWith("REGISTER sip:"), qPrintable(text.left(200)));
        server->send(AgentFixture::request("OPTIONS", "after"));
        QTRY_VERIFY(server->texts().join('\n').contains("SIP/2.0 200 OK"));
    }

    // A flood at the phone's RTP port; then a re-INVITE moves the far end's media to another address, the
    // port kept: the call went on, and its RTP follows.
    void rtpDuringCall()
    {
        RtpPeer first, moved;
        QVERIFY(first.start() && moved.start("127.0.0.3", first.port()));
        QVERIFY(answered(AgentFixture::sdp("127.0.0.1", first.port())));
        const QString tag = app->sip->dialog.callToTag;
        server->send(AgentFixture::request("ACK", "hostile", "1", tag));
        QTRY_VERIFY(first.packets.size() > 5);
        // The session lives on the audio thread: its buffer is read there.
        Rtp *rtp = app->rtp;
        const quint16 phonePort = quint16(rtp->udpSocket->localPort());
        const auto buffered = [rtp] { int bytes = 0; runOn(rtp, [&] { bytes = 2 * rtp->rxBuffer.bufferedSamples(); }); return bytes; };
        QUdpSocket flooder;
        QVERIFY(flooder.bind(QHostAddress("127.0.0.1"), 0));
        int worst = 0;
        quint64 dropped = 0;
        // 200 s of packets in a few seconds, each one new: only the bound keeps them from piling up.
        flood(flooder, phonePort, 10000, [&](int i) {
            worst = qMax(worst, buffered());
            return RtpPeer::packet(8, QByteArray(320, '\x10'), quint16(i), quint32(160 * i));
        });
        runOn(rtp, [&] { dropped = rtp->rxDroppedBytes; });
        QVERIFY2(worst <= Rtp::rxPcmLimit && dropped > 0, qPrintable(QString::number(worst)));
        server->send(AgentFixture::request("INVITE", "hostile", "2", tag, AgentFixture::sdp("127.0.0.3", first.port())));
        QTRY_VERIFY(moved.packets.size() > 5);
        const int left = first.packets.size();
        QTRY_VERIFY(moved.packets.size() > 15);
        QCOMPARE(first.packets.size(), left);
    }

    void brokenSdp_data() { fixtureRows("sip/hostile-sdp.txt"); }
    void brokenSdp()
    {
        QFETCH(QString, message);
        QFETCH(QString, body);
        QFETCH(QString, accepted);
        if (message == "INVITE") {
            QCOMPARE(answered(body), accepted == "yes");
        } else {
            app->sip->dialog.called = "200";
            app->sip->sendSipMsg("invite");
            QVERIFY(server->waitFor(1));
            server->send(AgentFixture::responseTo(server->last(), "200 OK", {"Contact: <sip:200@127.0.0.2>"}, body));
            QTRY_VERIFY(w->audioActive());
        }
        server->received.clear();
        w->disconnectSlot(); // a BYE for a call, a CANCEL for one still being set up
        QTRY_VERIFY(server->texts().join('\n').contains(accepted == "yes" ? "BYE sip:" : "CANCEL sip:"));
    }

    void silentPeers()
    {
        QUdpSocket stun;
        QVERIFY(stun.bind(QHostAddress(QHostAddress::LocalHost)));
        QVERIFY(SqlPeek(w->db.databaseName()).exec("UPDATE settings SET STUN = ?", {QString("udp://127.0.0.1:%1").arg(stun.localPort())}));
        app->getSettingsDB(); // one lookup for the SIP port, one for the media port, each unanswered
        int lookups = 0;
        for (; stun.hasPendingDatagrams(); ++lookups)
            stun.receiveDatagram();
        QCOMPARE(lookups, 2);
        QCOMPARE(app->network->stunIpS + app->network->stunIpM + app->network->getRTPPort(), QString::number(app->settings.mediaPort));

        // nothing listens (each REGISTER comes back as ICMP port unreachable), then nobody answers
        const quint16 silentPort = SipTestServer::freePort();
        app->settings.sipServerPort = QString::number(silentPort);
        w->timerRegisterExpiredSlot();
        QTest::qWait(6000);
        SipTestServer silent;
        // retransmissions keep their branch; a new REGISTER has a new one
        const auto registers = [&] {
            QSet<QString> branches;
            for (const QString &text : silent.texts())
                branches << QRegularExpression("branch=([^;\r\n]+)").match(text).captured(1);
            return branches.size();
        };
        QVERIFY(silent.listen(QHostAddress("127.0.0.2"), silentPort) && silent.waitFor(1, 7000));
        QTest::qWait(3000);
        QCOMPARE(registers(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(registers() == 2, 4000);
        QVERIFY(silent.last().startsWith("REGISTER sip:"));
    }

    void unusableDataDir()
    {
        QVERIFY2(unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0,
                 "a private mount namespace needs root (CAP_SYS_ADMIN)");
        cleanup();
        PrivateDataDir data;
        const QByteArray dir = QFile::encodeName(data.dataPath());
        QVERIFY(QDir().mkpath(dir) && mount("tmpfs", dir, "tmpfs", MS_RDONLY, "size=1m") == 0);
        BoxWatcher boxes;
        init();
        QCOMPARE(boxes.texts, QStringList{"Error open sorvanto.dat"});
        callEndsAndRegisters();

        cleanup();
        QVERIFY(umount2(dir, MNT_DETACH) == 0 && mount("tmpfs", dir, "tmpfs", 0, "size=512k") == 0);
        init();
        QFile filler(dir + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
        callEndsAndRegisters();
        QCOMPARE(boxes.texts.size(), 1);
        cleanup();
        umount2(dir, MNT_DETACH);
    }

    void killed()
    {
        cleanup();
        PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
        QVERIFY2(phone.seed({{"sipServerIp", "127.0.0.2"}, {"sipServerPort", QString::number(port)}, {"user", "100"},
                             {"login", "100"}, {"password", "pw"}, {"STUN", ""}}), qPrintable(phone.errorString()));
        int rows = 0;
        for (int run = 0; run < 30; ++run) {
            server->received.clear();
            QVERIFY(phone.launch());
            const bool call = run % 2; // otherwise killed anywhere from before the lock to a running phone
            if (call) { // registering: the lock was taken over; the INVITE is sent again until it rings, as over UDP
                QVERIFY2(server->waitFor(1, 15000), qPrintable(QStringLiteral("run %1: no REGISTER; its output:\n%2\nits log:\n%3")
                                                                  .arg(run).arg(phone.output().right(800), phone.log().right(1500))));
                for (int i = 0; i < 30 && !QTest::qWaitFor([this] { return ringing(); }, i ? 500 : 0); ++i)
                    server->send(AgentFixture::request("INVITE", QString::number(run), "1", {}, AgentFixture::sdp()));
                QVERIFY2(ringing(), qPrintable(QStringLiteral("run %1: no 180; the phone's log:\n").arg(run) + phone.log().right(1500)));
                const qint64 mark = phone.logSize();
                server->send(AgentFixture::request("CANCEL", QString::number(run))); // written when the busy tone ends
                QVERIFY2(phone.waitForLog("!!!!! setHistoryDB OK", 10000, mark),
                         qPrintable(QStringLiteral("run %1: no history row; the phone's log:\n").arg(run) + phone.log(mark).right(1500)));
            }
            QTest::qWait(int(QRandomGenerator::global()->bounded(call ? 300 : 1200)));
            phone.kill();
            SqlPeek db(phone.databaseFile());
            QCOMPARE(db.column("PRAGMA integrity_check").value(0).toString(), QString("ok"));
            const int now = db.column("SELECT count(*) FROM history").value(0).toInt();
            QVERIFY2(now >= rows + call, qPrintable(QStringLiteral("run %1: %2 rows, had %3").arg(run).arg(now).arg(rows)));
            rows = now;
        }
    }
};

SORVANTO_TEST_MAIN(TstRobustness)
#include "tst_robustness.moc"
