// StunClient reports the first IPv4 mapping of a matching answer and nothing for a foreign, failed or
// malformed one (tests/data/stun/answers.txt), and gets its mapping from coturn, each lookup from a
// port and with an ID of its own (silence: tests/robustness). The network environment looks up by STUN only for
// a global SIP server (tests/data/stun/servers.txt), once per STUN URL, and offers the RTP socket's own
// port for media.
#include "fixturetable.h"
#include "accountsettings.h"
#include "networkenvironment.h"
#include "stunclient.h"
#include "stunserver.h"
#include "testmain.h"

#include <QtTest>

class TstStunClient : public QObject
{
    Q_OBJECT

    StunServer coturn;
    AccountSettings settings;
    NetworkEnvironment network{settings};

private slots:
    void initTestCase()
    {
        QVERIFY2(coturn.start(), qPrintable(coturn.errorString()));
    }

    void answers_data() { fixtureRows("stun/answers.txt"); }
    void answers()
    {
        QFETCH(QString, ip);
        StunClient client;
        client.transactionId = QByteArray::fromHex("0102030405060708090a0b0c");
        client.stunIp = QStringLiteral("earlier"); // a failure keeps the last result
        QSignalSpy done(&client, &StunClient::updatedStunSignal);
        QCOMPARE(client.processResponse(QByteArray::fromHex(cell("answer").toLatin1())), !ip.isEmpty());
        QCOMPARE(done.value(0).value(0).toString() + ":" + done.value(0).value(1).toString() + " " + client.stunIp,
                 ip + ":" + cell("port") + " " + (ip.isEmpty() ? QStringLiteral("earlier") : ip));
    }

    void serverUrl_data() { fixtureRows("stun/urls.txt"); }
    void serverUrl()
    {
        StunClient client;
        client.setStunClient(QStringLiteral("udp://127.0.0.9:9"));
        client.setStunClient(cell("url"));
        QTEST(client.serverAddress.toString() + ":" + QString::number(client.serverPort), "server");
    }

    // RTP binds the port a mapping was learned for: the next lookup must not be answered there. A
    // lookup asked for during the wait does not spoil the one in progress.
    void lookups()
    {
        StunClient client;
        client.setStunClient(coturn.url());
        QSignalSpy done(&client, &StunClient::updatedStunSignal);
        QTimer::singleShot(0, &client, &StunClient::binding);
        client.binding();
        const int ownPort = client.QUdpSocket::localPort();
        const QByteArray firstId = client.transactionId;
        QUdpSocket rtp;
        QVERIFY(rtp.bind(QHostAddress(QHostAddress::AnyIPv4), quint16(ownPort), QAbstractSocket::ShareAddress));
        client.binding();
        const int nextPort = client.QUdpSocket::localPort();
        QCOMPARE(done.value(1), (QList<QVariant>{QStringLiteral("127.0.0.1"), nextPort, nextPort}));
        QVERIFY(done.count() == 2 && nextPort != ownPort && client.transactionId != firstId && !rtp.hasPendingDatagrams());
    }

    void decision_data() { fixtureRows("stun/servers.txt"); }
    void decision()
    {
        QFETCH(QString, server);
        QFETCH(QString, global);
        settings.STUN = coturn.url();
        settings.sipServerIp = server; // never contacted
        settings.useSTUN = global == "no";
        network.stunIpS = network.stunIpM = network.stunPortS = network.stunPortM = QStringLiteral("1");
        network.stunLocalPortS = network.stunLocalPortM = 5000;
        network.stunClientSip->url = network.stunClientMedia->url = QStringLiteral("udp://127.0.0.1:1");
        QSignalSpy sip(network.stunClientSip, &StunClient::updatedStunSignal), media(network.stunClientMedia, &StunClient::updatedStunSignal);
        network.checkGlobalIp();
        network.checkGlobalIp(); // looked up once per URL
        QCOMPARE(sip.count() + media.count(), global == "yes" ? 2 : 0);
        QCOMPARE(network.sipServerAddr + (settings.useSTUN ? " yes" : " no"), server + " " + global);
        if (!settings.useSTUN) {
            QCOMPARE(network.stunIpS + network.stunPortS + network.stunIpM + network.stunPortM + network.stunClientSip->url + network.stunClientMedia->url
                         + QString::number(network.stunLocalPortS + network.stunLocalPortM), QStringLiteral("0"));
            return;
        }
        const int sipPort = network.stunClientSip->QUdpSocket::localPort(), mediaPort = network.stunClientMedia->QUdpSocket::localPort();
        QCOMPARE(QStringList({network.stunIpS, network.stunPortS, QString::number(network.stunLocalPortS), network.stunIpM, network.stunPortM,
                              QString::number(network.stunLocalPortM)}).join(' '),
                 QStringLiteral("127.0.0.1 %1 %1 127.0.0.1 %2 %2").arg(sipPort).arg(mediaPort));
        // a NAT may map the port to another: media is offered on the socket's own port
        network.stunPortM = QStringLiteral("40000");
        QCOMPARE(network.getRTPPort(), QString::number(mediaPort));
        // without a URL nothing is looked up, though STUN stays on
        settings.STUN.clear();
        network.stunClientSip->url = QStringLiteral("udp://127.0.0.1:1");
        network.checkGlobalIp();
        QVERIFY(settings.useSTUN && sip.count() + media.count() == 2);
    }
};

SORVANTO_TEST_MAIN(TstStunClient)
#include "tst_stunclient.moc"
