// Malformed SDP inside a valid INVITE or 200 OK still rings or connects and hangs up (an over-long line
// drops the message); malformed STUN answers leave no STUN result, so the configured media port is used.
#include "audio.h"
#include "fakestunserver.h"
#include "mainwindow.h"
#include "rtp.h"
#include "sip.h"
#include "siptestserver.h"
#include "siptexts.h"
#include "testmain.h"
#include "testphone.h"
#include "udpsocket.h"

#include <QtTest>

class TstHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void brokenSdp_data();
    void brokenSdp();
    void brokenStun_data();
    void brokenStun();

private:
    static QString header(const QString &message, const QString &name);
};

void TstHostile::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

QString TstHostile::header(const QString &message, const QString &name)
{
    for (const QString &line : message.split("\r\n")) {
        if (line.startsWith(name + ":"))
            return line.mid(name.size() + 1).trimmed();
    }
    return QString();
}

void TstHostile::brokenSdp_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("incoming");
    QTest::addColumn<bool>("accepted");
    const QList<QPair<const char *, QString>> bodies{
        {"empty", QString()},
        {"no connection line", "v=0\r\nm=audio 40000 RTP/AVP 8\r\n"},
        {"connection without address", "v=0\r\nc=IN IP4\r\nm=audio 40000 RTP/AVP 8\r\n"},
        {"port not a number", "v=0\r\nc=IN IP4 127.0.0.2\r\nm=audio port RTP/AVP 8\r\n"},
        {"port out of range", "v=0\r\nc=IN IP4 127.0.0.2\r\nm=audio 99999999999 RTP/AVP 8\r\n"},
        {"address not an address", "v=0\r\nc=IN IP4 999.1.2.3.4\r\nm=audio 40000 RTP/AVP\r\n"},
        {"lines without equals", "v0\r\nc\r\nm\r\n=\r\n=="},
        {"long line", "v=0\r\nc=IN IP4 " + QString(30000, '1') + "\r\nm=audio 40000 RTP/AVP 8\r\n"},
        {"many lines", QString("a=x\r\n").repeated(5000)},
        {"bare carriage returns", "v=0\rc=IN IP4 127.0.0.2\rm=audio 40000 RTP/AVP 8\r"},
    };
    for (const auto &b : bodies) {
        const bool accepted = qstrcmp(b.first, "long line") != 0;
        QTest::newRow(QByteArray("INVITE, ").append(b.first).constData()) << b.second << true << accepted;
        QTest::newRow(QByteArray("200 OK, ").append(b.first).constData()) << b.second << false << accepted;
    }
}

void TstHostile::brokenSdp()
{
    QFETCH(QString, body);
    QFETCH(bool, incoming);
    QFETCH(bool, accepted);
    const quint16 port = SipTestServer::freePort();
    SipTestServer server;
    QScopedPointer<MainWindow> owner(TestPhone::registered(server, port));
    MainWindow *w = owner.data();
    QVERIFY(w);
    server.clear();
    QSignalSpy started(w, &MainWindow::audioStartSignal);

    if (incoming) {
        QSignalSpy rings(w, &MainWindow::dialogWinShowSignal);
        server.send(SipTexts::invite("hostile", port, body));
        QCOMPARE(rings.wait(3000), accepted);
        if (!accepted) {
            for (const QString &text : server.texts())
                QVERIFY2(text.startsWith("REGISTER sip:"), qPrintable(text.left(100)));
            return;
        }
        w->answerSlot();
    } else {
        w->called = "200";
        w->audio->sip->sendSipMsg("invite");
        QVERIFY(server.waitFor(1));
        const QString invite = server.last();
        QVERIFY(invite.startsWith("INVITE sip:"));
        const QStringList lines{"SIP/2.0 200 OK", "Via: " + header(invite, "Via"), "From: " + header(invite, "From"),
                                "To: " + header(invite, "To") + ";tag=far", "Call-ID: " + header(invite, "Call-ID"),
                                "CSeq: " + header(invite, "CSeq"), "Contact: <sip:200@127.0.0.2>",
                                "Content-Type: application/sdp",
                                "Content-Length: " + QString::number(body.toUtf8().size())};
        server.send(lines.join("\r\n") + "\r\n\r\n" + body);
    }
    if (accepted) {
        QTRY_COMPARE(started.size(), 1);
        QVERIFY(w->audioActive());
    } else {
        QVERIFY(!started.wait(1000));
    }

    // Hung up: a BYE for a call, a CANCEL for one still being set up.
    server.clear();
    w->disconnectSlot();
    QTRY_VERIFY(server.texts().join('\n').contains(accepted ? "BYE sip:" : "CANCEL sip:"));
    QVERIFY(!w->audioActive());
}

// Decoding each malformed answer is the STUN client's own test; here the
// phone must fall back to its configured media port when a lookup yields nothing.
void TstHostile::brokenStun_data()
{
    QTest::addColumn<QByteArray>("answer");
    const QByteArray success = QByteArray::fromHex("010100002112a442") + FakeStunServer::placeholderId();
    QTest::newRow("header only, cut short") << success.left(10);
    QTest::newRow("no attributes") << success;
}

void TstHostile::brokenStun()
{
    QFETCH(QByteArray, answer);
    FakeStunServer stun;
    stun.answers = {answer};
    MainWindow *w = TestPhone::create("127.0.0.2", QString::number(SipTestServer::freePort()), "100", "pw");
    QScopedPointer<MainWindow> owner(w);
    QVERIFY(TestPhone::storeSetting(w, "STUN", stun.url()));
    w->getSettingsDB();

    QCOMPARE(stun.requests.size(), 2);
    QVERIFY(w->stunIpS.isEmpty());
    QVERIFY(w->stunIpM.isEmpty());
    QCOMPARE(w->stunLocalPortM, 0);
    QCOMPARE(w->getRTPPort(), QString::number(w->mediaPort));
    QCOMPARE(int(w->audio->rtp->udpSocket->localPort()), w->mediaPort);
}

SORVANTO_TEST_MAIN(TstHostile)
#include "tst_hostile.moc"
