// The main window turns STUN on only for a public SIP server, runs the lookups once per
// STUN URL, stores what they report, and offers the RTP socket's own port for media.
#include "fakestunserver.h"
#include "mainwindow.h"
#include "stunclient.h"
#include "testmain.h"

#include <QStandardPaths>
#include <QtTest>

class TstNetworkEnvironment : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void decision_data();
    void decision();
    void lookupsOncePerUrl();
    void rtpPort_data();
    void rtpPort();

private:
    MainWindow *w = nullptr;
};

void TstNetworkEnvironment::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    w = new MainWindow;
    QVERIFY(w->stunClientSip && w->stunClientMedia);
}

void TstNetworkEnvironment::cleanupTestCase()
{
    delete w;
}

void TstNetworkEnvironment::decision_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("global");

    QTest::newRow("192.168.1.10") << "192.168.1.10" << false;
    QTest::newRow("10.255.0.1") << "10.255.0.1" << false;
    QTest::newRow("172.16.0.1") << "172.16.0.1" << false;
    QTest::newRow("172.31.255.254") << "172.31.255.254" << false;
    QTest::newRow("127.0.0.1") << "127.0.0.1" << false;
    QTest::newRow("0.0.0.0") << "0.0.0.0" << false;
    QTest::newRow("172.32.0.1") << "172.32.0.1" << true;
    QTest::newRow("127.0.0.2") << "127.0.0.2" << true;
    QTest::newRow("empty text") << "" << true;
}

void TstNetworkEnvironment::decision()
{
    QFETCH(QString, server);
    QFETCH(bool, global);
    FakeStunServer stun; // answers with the address it sees, as a real server does
    w->STUN = stun.url();
    w->sipServerIp = server; // never contacted
    w->useSTUN = !global;
    w->stunIpS = w->stunIpM = QStringLiteral("198.51.100.1");
    w->stunPortS = w->stunPortM = QStringLiteral("4000");
    w->stunLocalPortS = w->stunLocalPortM = 5000;
    w->stunClientSip->url = w->stunClientMedia->url = QStringLiteral("udp://127.0.0.1:1");

    w->checkGlobalIp();
    QCOMPARE(w->sipServerAddr, server);
    QCOMPARE(w->useSTUN, global);
    if (!global) {
        QCOMPARE(w->stunIpS + w->stunPortS + w->stunIpM + w->stunPortM, QString());
        QCOMPARE(w->stunLocalPortS + w->stunLocalPortM, 0);
        QVERIFY(w->stunClientSip->url.isEmpty() && w->stunClientMedia->url.isEmpty());
        QCOMPARE(stun.requests.size(), 0);
        return;
    }
    QCOMPARE(stun.requests.size(), 2);
    QCOMPARE(w->stunIpS, QStringLiteral("127.0.0.1"));
    QCOMPARE(w->stunIpM, QStringLiteral("127.0.0.1"));
    QCOMPARE(w->stunLocalPortS, int(w->stunClientSip->QUdpSocket::localPort()));
    QCOMPARE(w->stunLocalPortM, int(w->stunClientMedia->QUdpSocket::localPort()));
    QVERIFY(w->stunLocalPortS != w->stunLocalPortM);
    QCOMPARE(w->stunPortS, QString::number(w->stunLocalPortS));
    QCOMPARE(w->stunPortM, QString::number(w->stunLocalPortM));
    QCOMPARE(w->getRTPPort(), w->stunPortM);
}

void TstNetworkEnvironment::lookupsOncePerUrl()
{
    FakeStunServer stun;
    w->STUN = stun.url();
    w->sipServerIp = QStringLiteral("172.32.0.1");
    w->checkGlobalIp();
    w->checkGlobalIp();
    QCOMPARE(stun.requests.size(), 2);

    // a spell without STUN makes the next switch look up again
    w->sipServerIp = QStringLiteral("10.0.0.1");
    w->checkGlobalIp();
    w->sipServerIp = QStringLiteral("172.32.0.1");
    w->checkGlobalIp();
    QCOMPARE(stun.requests.size(), 4);

    // without a URL nothing is looked up, though STUN is on
    w->STUN.clear();
    w->sipServerIp = QStringLiteral("10.0.0.1");
    w->checkGlobalIp();
    w->sipServerIp = QStringLiteral("172.32.0.1");
    w->checkGlobalIp();
    QVERIFY(w->useSTUN);
    QCOMPARE(stun.requests.size(), 4);
}

void TstNetworkEnvironment::rtpPort_data()
{
    QTest::addColumn<QString>("stunPortM");
    QTest::addColumn<int>("stunLocalPortM");
    QTest::addColumn<QString>("offered");

    QTest::newRow("port changed by the NAT") << "40000" << 50000 << "50000";
    QTest::newRow("port kept by the NAT") << "50000" << 50000 << "50000";
    QTest::newRow("no lookup") << "" << 0 << "61000";
}

void TstNetworkEnvironment::rtpPort()
{
    QFETCH(QString, stunPortM);
    QFETCH(int, stunLocalPortM);
    QFETCH(QString, offered);
    w->mediaPort = 61000;
    w->stunPortM = stunPortM;
    w->stunLocalPortM = stunLocalPortM;
    QCOMPARE(w->getRTPPort(), offered);
}

SORVANTO_TEST_MAIN(TstNetworkEnvironment)
#include "tst_networkenvironment.moc"
