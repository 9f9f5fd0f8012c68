// Through a real Kamailio registrar and record-routing proxy: registration (401, 200), calls with a
// SIPp user agent in both directions, and a cancelled ringing call whose 487 starts no busy tone.

#include "agentfixture.h"
#include "kamailiopeer.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "sipppeer.h"
#include "siptestserver.h"
#include "testmain.h"

#include <QtTest>

#include <memory>

class TstKamailio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void registration();
    void phoneCallsSipp_data();
    void phoneCallsSipp();
    void sippCallsPhone_data();
    void sippCallsPhone();
    void cancelledRingingCall();

private:
    static QString scenario(const QString &name)
    {
        return QStringLiteral(SORVANTO_TESTS_DIR "/agent/sipp/") + name + QStringLiteral(".xml");
    }
    bool registerPhone();
    QString proxy() const { return "127.0.0.2:" + QString::number(port); }

    KamailioPeer kamailio;
    quint16 port = 0;
    quint16 calleePort = 0;
    std::unique_ptr<AgentFixture> phone;
};

void TstKamailio::initTestCase()
{
    port = SipTestServer::freePort();
    calleePort = SipTestServer::freePort();
    QVERIFY(port && calleePort && port != calleePort);
    QVERIFY2(kamailio.start(SORVANTO_TESTS_DIR "/agent/kamailio.cfg", port, {{"100", "pw100"}, {"200", "pw200"}}),
             qPrintable(kamailio.errorString()));
    // User 200 (SIPp) registers once; each callee scenario then listens at
    // the registered address.
    SippPeer reg;
    QVERIFY2(reg.start(scenario("kam_register"), "127.0.0.1", calleePort, proxy(), {"-au", "200", "-ap", "pw200"}),
             qPrintable(reg.errorString()));
    QVERIFY2(reg.finish(), qPrintable(reg.errorString() + kamailio.log().right(3000)));
    QVERIFY2(kamailio.isRegistered("200"), qPrintable(kamailio.ctl({"ul.lookup", "location", "s:200"})));
}

void TstKamailio::cleanupTestCase()
{
    kamailio.stop();
}

void TstKamailio::init()
{
    phone.reset(new AgentFixture(port));
    // Kamailio owns 127.0.0.2 at this port; the scripted server must not.
    delete phone->server;
    phone->server = nullptr;
}

void TstKamailio::cleanup()
{
    phone.reset();
}

bool TstKamailio::registerPhone()
{
    QSignalSpy registered(phone->window, &MainWindow::registeredSignal);
    phone->sip->sendSipMsg("register");
    return registered.wait(5000) && phone->sip->registered;
}

void TstKamailio::registration()
{
    QVERIFY2(registerPhone(), qPrintable(kamailio.log().right(3000)));
    QVERIFY(kamailio.isRegistered("100"));
    QVERIFY(kamailio.ctl({"ul.lookup", "location", "s:100"}).contains("127.0.0.1:" + QString::number(port)));

    // A wrong password is refused without a loop: the phone stays unregistered
    // and answers only two challenges.
    phone->window->password = "wrong";
    QSignalSpy registered(phone->window, &MainWindow::registeredSignal);
    phone->sip->sendSipMsg("register");
    QVERIFY(!registered.wait(1500));
    QVERIFY(!phone->sip->registered);
    QCOMPARE(phone->parser->registerChallenges, 2);
}

void TstKamailio::phoneCallsSipp_data()
{
    QTest::addColumn<bool>("unused");
    QTest::newRow("INVITE, 407, ACK, INVITE, 200, ACK, BYE, 200") << true;
}

void TstKamailio::phoneCallsSipp()
{
    QVERIFY2(registerPhone(), qPrintable(kamailio.log().right(3000)));
    SippPeer callee;
    QVERIFY2(callee.start(scenario("kam_uas"), "127.0.0.1", calleePort, QString()), qPrintable(callee.errorString()));
    MainWindow *w = phone->window;
    QSignalSpy audio(w, &MainWindow::audioStartSignal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    w->called = "200";
    phone->sip->sendSipMsg("invite");
    QVERIFY2(audio.wait(8000), qPrintable(callee.report() + kamailio.log().right(4000)));
    QCOMPARE(phone->parser->callState, 3);
    QCOMPARE(w->mediaIp_, QString("127.0.0.1"));
    QVERIFY(!phone->parser->routeSet.isEmpty());
    phone->sip->sendSipMsg("disconnect");
    QVERIFY2(callee.finish(), qPrintable(callee.errorString() + kamailio.log().right(4000)));
    QCOMPARE(busy.size(), 0);
}

void TstKamailio::sippCallsPhone_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("cause");
    QTest::newRow("answered, caller hangs up") << "kam_uac" << true << "Bye";
    QTest::newRow("answered, phone hangs up") << "kam_uac_phone_bye" << true << "";
    QTest::newRow("rejected while ringing") << "kam_uac_rejected" << false << "";
}

void TstKamailio::sippCallsPhone()
{
    QFETCH(QString, name);
    QFETCH(bool, answer);
    QFETCH(QString, cause);
    QVERIFY2(registerPhone(), qPrintable(kamailio.log().right(3000)));
    MainWindow *w = phone->window;
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    SippPeer caller;
    QVERIFY2(caller.start(scenario(name), "127.0.0.1", calleePort, proxy(), {"-s", "100", "-au", "200", "-ap", "pw200"}),
             qPrintable(caller.errorString()));
    QVERIFY2(shown.wait(8000), qPrintable(caller.report() + kamailio.log().right(4000)));
    QCOMPARE(w->called, QString("200"));
    if (answer)
        phone->sip->sendSipMsg("answer");
    if (!cause.isEmpty()) {
        QVERIFY2(busy.wait(8000), qPrintable(caller.report() + kamailio.log().right(4000)));
        QCOMPARE(busy.at(0).at(0).toString(), cause);
    } else {
        phone->sip->sendSipMsg("disconnect");
    }
    QVERIFY2(caller.finish(), qPrintable(caller.errorString() + kamailio.log().right(4000)));
    QCOMPARE(busy.size(), cause.isEmpty() ? 0 : 1);
    QCOMPARE(phone->parser->callState, 4);
}

// The phone hangs up a ringing call: CANCEL through the proxy, the callee's
// 487 is acknowledged and does not start the busy tone.
void TstKamailio::cancelledRingingCall()
{
    QVERIFY2(registerPhone(), qPrintable(kamailio.log().right(3000)));
    SippPeer callee;
    QVERIFY2(callee.start(scenario("kam_uas_cancel"), "127.0.0.1", calleePort, QString()),
             qPrintable(callee.errorString()));
    MainWindow *w = phone->window;
    QSignalSpy progress(w, &MainWindow::rx183Signal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    w->called = "200";
    phone->sip->sendSipMsg("invite");
    QVERIFY2(progress.wait(8000), qPrintable(callee.report() + kamailio.log().right(4000)));
    phone->sip->sendSipMsg("disconnect");
    QVERIFY2(callee.finish(), qPrintable(callee.errorString() + kamailio.log().right(4000)));
    QCOMPARE(busy.size(), 0);
    QCOMPARE(phone->parser->callState, 4);
}

SORVANTO_TEST_MAIN(TstKamailio)
#include "tst_kamailio.moc"
