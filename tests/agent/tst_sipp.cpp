// Against SIPp as the server: digest registration, calls answered, refused, with early media or behind
// 401/407 qop challenges; and SIPp calling the phone, cancelling, or being answered.

#include "agentfixture.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "sipppeer.h"
#include "siptestserver.h"
#include "testmain.h"

#include <QtTest>

class TstSipp : public QObject
{
    Q_OBJECT

private slots:
    void phoneCalls_data();
    void phoneCalls();
    void sippCalls_data();
    void sippCalls();

private:
    static QString scenario(const QString &name)
    {
        return QStringLiteral(SORVANTO_TESTS_DIR "/agent/sipp/") + name + QStringLiteral(".xml");
    }
};

void TstSipp::phoneCalls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("early");
    QTest::newRow("registrar 401 then 200") << "uas_register" << "register" << "registered" << -1;
    QTest::newRow("callee answers") << "uas_call" << "invite" << "talk" << -1;
    QTest::newRow("callee busy") << "uas_busy" << "invite" << "486 Busy Here" << -1;
    QTest::newRow("183 with SDP") << "uas_183_sdp" << "invite" << "talk" << 1;
    QTest::newRow("183 without SDP") << "uas_183_nosdp" << "invite" << "talk" << 0;
    QTest::newRow("407 qop auth") << "uas_407" << "invite" << "talk" << -1;
    QTest::newRow("401 qop auth, digest verified") << "uas_401_qop" << "invite" << "talk" << -1;
}

void TstSipp::phoneCalls()
{
    QFETCH(QString, name);
    QFETCH(QString, command);
    QFETCH(QString, outcome);
    QFETCH(int, early);

    AgentFixture phone;
    QVERIFY(phone.ready());
    MainWindow *w = phone.window;
    // SIPp cannot share the phone's bound port, so it listens on another one
    // that the phone only sends to.
    const quint16 sippPort = SipTestServer::freePort();
    SippPeer sipp;
    QVERIFY2(sipp.start(scenario(name), "127.0.0.2", sippPort, QString()), qPrintable(sipp.errorString()));
    w->sipServerPort = QString::number(sippPort);
    w->called = "200";

    QSignalSpy registered(w, &MainWindow::registeredSignal);
    QSignalSpy audio(w, &MainWindow::audioStartSignal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    QSignalSpy rx183(w, &MainWindow::rx183Signal);
    phone.sip->sendSipMsg(command);

    if (outcome == "registered") {
        QVERIFY2(registered.wait(5000), qPrintable(sipp.report()));
        QVERIFY(phone.sip->registered);
    } else if (outcome == "talk") {
        QVERIFY2(audio.wait(5000), qPrintable(sipp.report()));
        QCOMPARE(phone.parser->callState, 3);
        QVERIFY(w->mediaPort_.toInt() > 0);
        QCOMPARE(w->mediaIp_, QString("127.0.0.2"));
        if (early >= 0) {
            QCOMPARE(rx183.size(), 1);
            QCOMPARE(w->earlyMedia, early == 1);
        }
        phone.sip->sendSipMsg("disconnect");
    } else {
        QVERIFY2(busy.wait(5000), qPrintable(sipp.report()));
        QCOMPARE(busy.at(0).at(0).toString(), outcome);
    }
    QVERIFY2(sipp.finish(), qPrintable(sipp.errorString()));
    QCOMPARE(busy.size(), outcome.startsWith("4") ? 1 : 0);
}

void TstSipp::sippCalls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cause");
    QTest::newRow("OPTIONS") << "uac_options" << "";
    QTest::newRow("caller cancels") << "uac_cancel" << "Cancel";
    QTest::newRow("answered, caller hangs up") << "uac_answer" << "Bye";
}

void TstSipp::sippCalls()
{
    QFETCH(QString, name);
    QFETCH(QString, cause);

    AgentFixture phone;
    QVERIFY(phone.ready());
    MainWindow *w = phone.window;
    const quint16 sippPort = SipTestServer::freePort();
    w->sipServerPort = QString::number(sippPort);
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    QSignalSpy audio(w, &MainWindow::audioStartSignal);

    SippPeer sipp;
    QVERIFY2(sipp.start(scenario(name), "127.0.0.2", sippPort, "127.0.0.1:" + QString::number(phone.port),
                        {"-s", "100"}),
             qPrintable(sipp.errorString()));
    if (name == "uac_answer") {
        QVERIFY2(shown.wait(5000), qPrintable(sipp.report()));
        QCOMPARE(w->called, QString("200"));
        phone.sip->sendSipMsg("answer");
        QCOMPARE(audio.size(), 1);
    }
    if (!cause.isEmpty()) {
        QVERIFY2(busy.size() > 0 || busy.wait(8000), qPrintable(sipp.report()));
        QCOMPARE(busy.at(0).at(0).toString(), cause);
        QCOMPARE(phone.parser->callState, 4);
        QCOMPARE(shown.size(), 1);
    }
    QVERIFY2(sipp.finish(), qPrintable(sipp.errorString()));
}

SORVANTO_TEST_MAIN(TstSipp)
#include "tst_sipp.moc"
