// A scripted server drives the user agent through datagrams and reads what it sends: the status table,
// challenges, replies and dialogs, and the transaction rules over UDP (retransmissions, timeouts, 481).

#include "agentfixture.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "siptestserver.h"
#include "siptransactions.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QtTest>

class TstProcessing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void statusTable_data();
    void statusTable();
    void challenges_data();
    void challenges();
    void incomingCall();
    void routeSet_data();
    void routeSet();
    void loss_data();
    void loss();
    void registration_data();
    void registration();

private:
    QStringList exchange(const QString &text) { return phone->exchange(text); }
    QString sent(int index) const { return QString::fromUtf8(phone->server->received.value(index)); }
    QString command(const char *word);
    QString invite(const QString &callId, const QString &cseq = "1", const QString &toTag = QString(),
                   const QString &method = "INVITE") const
    {
        return AgentFixture::request(method, callId, cseq, toTag, method == "INVITE" ? sdp : QString());
    }

    const QString sdp = AgentFixture::sdp();
    AgentFixture *phone = nullptr;
    MainWindow *w = nullptr;
    SipParser *p = nullptr;
};

namespace {
QString header(const QString &text, const QString &name, int index = 0)
{
    return AgentFixture::header(text, name, index);
}
QString responseTo(const QString &request, const QString &status, const QString &toTag = "calleetag",
                   const QStringList &extra = {}, const QString &body = QString())
{
    return AgentFixture::responseTo(request, status, toTag, extra, body);
}
} // namespace

void TstProcessing::init()
{
    // No retransmission interferes unless a test asks for one.
    SipTransactions::setTimers(600000, 600000);
    phone = new AgentFixture();
    QVERIFY(phone->ready());
    w = phone->window;
    p = phone->parser;
}

void TstProcessing::cleanup()
{
    delete phone;
    phone = nullptr;
}

// Gives the user agent a command and returns the one datagram it sends.
QString TstProcessing::command(const char *word)
{
    w->called = "200";
    phone->sip->sendSipMsg(word);
    return phone->exchange(QString()).value(0);
}

void TstProcessing::statusTable_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("branch"); // replaces the request's when set
    QTest::addColumn<bool>("ack");
    QTest::addColumn<QString>("busy");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<int>("state");
    QTest::newRow("100") << "invite" << "100 Trying" << "" << false << "" << "" << 1;
    QTest::newRow("180 ignored") << "invite" << "180 Ringing" << "" << false << "" << "" << 1;
    QTest::newRow("183 with SDP") << "invite" << "183 Session Progress" << "" << false << "" << "rx183" << 1;
    QTest::newRow("200 INVITE") << "invite" << "200 OK" << "" << true << "" << "audioStart" << 3;
    QTest::newRow("200 REGISTER") << "register" << "200 OK" << "" << false << "" << "registered" << 0;
    QTest::newRow("stray 200") << "invite" << "200 OK" << "z9hG4bKstray" << false << "" << "" << 1;
    QTest::newRow("404") << "invite" << "404 Not Found" << "" << true << "404 Not Found" << "" << 4;
    QTest::newRow("480") << "invite" << "480 Gone" << "" << true << "480 Temporarily Unavailable" << "" << 4;
    QTest::newRow("486") << "invite" << "486 Busy" << "" << true << "486 Busy Here" << "" << 4;
    QTest::newRow("302 not followed") << "invite" << "302 Moved Temporarily" << "" << true
                                      << "302 Moved Temporarily" << "" << 4;
    QTest::newRow("500") << "invite" << "500 Server Error" << "" << true << "500 Server Error" << "" << 4;
    QTest::newRow("502") << "invite" << "502 Bad Gateway" << "" << true << "502 Bad Gateway" << "" << 4;
    QTest::newRow("503") << "invite" << "503 Overloaded" << "" << true << "503 Service Unavailable" << "" << 4;
    QTest::newRow("603") << "invite" << "603 Decline" << "" << true << "603 Decline" << "" << 4;
    QTest::newRow("403 REGISTER") << "register" << "403 Forbidden" << "" << false << "" << "" << 0;
    QTest::newRow("404 REGISTER") << "register" << "404 Not Found" << "" << false << "" << "" << 0;
    QTest::newRow("700 ignored") << "invite" << "700 Odd" << "" << false << "" << "" << 1;
}

// Each answer to the phone's own request: ACK for every final answer of 300
// and above to an INVITE (and the 2xx), the cause shown, and nothing for an
// answer that matches no transaction or refuses a REGISTER.
void TstProcessing::statusTable()
{
    QFETCH(QString, command);
    QFETCH(QString, status);
    QFETCH(QString, branch);
    QFETCH(bool, ack);
    QFETCH(QString, busy);
    QFETCH(QString, signal);
    QFETCH(int, state);
    const QString request = this->command(command.toLatin1());
    QSignalSpy busySpy(w, &MainWindow::busyStartSignal);
    QSignalSpy rx183(w, &MainWindow::rx183Signal);
    QSignalSpy audio(w, &MainWindow::audioStartSignal);
    QSignalSpy registered(w, &MainWindow::registeredSignal);
    QString response = responseTo(request, status, "calleetag", {"Contact: <sip:200@127.0.0.2:5099>"},
                                  status.startsWith("200") || status.startsWith("183") ? sdp : QString());
    if (!branch.isEmpty())
        response.replace(QRegularExpression("branch=z9hG4bK\\w+"), "branch=" + branch);
    QStringList out = exchange(response);
    QCOMPARE(out.size(), ack ? 1 : 0);
    if (ack) {
        QVERIFY2(out[0].startsWith("ACK sip:200@127.0.0.2 SIP/2.0\r\n"), qPrintable(out[0]));
        QCOMPARE(header(out[0], "CSeq"), QString("1 ACK"));
        QCOMPARE(header(out[0], "To"), header(request, "To") + ";tag=calleetag");
        // The ACK of a refusal belongs to the INVITE's transaction.
        if (!status.startsWith("2"))
            QCOMPARE(header(out[0], "Via"), header(request, "Via"));
    }
    QCOMPARE(busySpy.size(), busy.isEmpty() ? 0 : 1);
    if (!busy.isEmpty())
        QCOMPARE(busySpy.at(0).at(0).toString(), busy);
    QCOMPARE(rx183.size(), signal == "rx183" ? 1 : 0);
    QCOMPARE(audio.size(), signal == "audioStart" ? 1 : 0);
    QCOMPARE(registered.size(), signal == "registered" ? 1 : 0);
    QCOMPARE(phone->sip->registered, signal == "registered");
    QCOMPARE(p->callState, state);
    if (!signal.isEmpty() && command == "invite")
        QCOMPARE(w->mediaPort_, QString("41000"));
    // A final answer again is acknowledged again, and changes nothing more.
    if (ack)
        QVERIFY(exchange(response).value(0).startsWith("ACK "));
    QCOMPARE(busySpy.size() + audio.size(), (busy.isEmpty() ? 0 : 1) + (signal == "audioStart" ? 1 : 0));
}

void TstProcessing::challenges_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("challenge");
    QTest::addColumn<QString>("credentials");
    QTest::addColumn<QString>("qop");
    QTest::newRow("REGISTER 401") << "register" << "401 Unauthorized" << "WWW-Authenticate" << "Authorization" << "";
    QTest::newRow("INVITE 407 qop") << "invite" << "407 Proxy Authentication Required" << "Proxy-Authenticate"
                                    << "Proxy-Authorization" << "auth";
    QTest::newRow("INVITE 401") << "invite" << "401 Unauthorized" << "WWW-Authenticate" << "Authorization" << "";
}

// An authorised retry is a new transaction (new branch, next CSeq, same
// Call-ID and From tag) whose digest names the login, hashes with it, and
// falls back to the domain, not the server; past two challenges it stops.
void TstProcessing::challenges()
{
    QFETCH(QString, command);
    QFETCH(QString, status);
    QFETCH(QString, challenge);
    QFETCH(QString, credentials);
    QFETCH(QString, qop);
    w->login = "alice";
    w->domain = "example.test";
    QString request = this->command(command.toLatin1());
    QVERIFY(header(request, "From").startsWith("<sip:100@example.test") && request.contains("@127.0.0.2"));
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    const QString value = "Digest realm=\"r\", nonce=\"abc\"" + (qop.isEmpty() ? "" : ", qop=\"" + qop + "\"");
    for (int round = 1; round <= 3; ++round) {
        const QStringList out = exchange(responseTo(request, status, "proxytag", {challenge + ": " + value}));
        const bool invite = command == "invite";
        QCOMPARE(out.size(), int(invite) + int(round < 3));
        if (invite)
            QCOMPARE(header(out[0], "Via"), header(request, "Via"));
        if (round == 3)
            break;
        const QString retry = out.last();
        QVERIFY(header(retry, "Via") != header(request, "Via"));
        QCOMPARE(header(retry, "CSeq").section(' ', 0, 0).toInt(), header(request, "CSeq").section(' ', 0, 0).toInt() + 1);
        for (const char *name : {"Call-ID", "From"})
            QCOMPARE(header(retry, name), header(request, name));
        const QRegularExpressionMatch m = QRegularExpression(
            "^Digest username=\"alice\", realm=\"r\", nonce=\"abc\", uri=\"sip:example.test\", response=\"(\\w+)\", "
            "algorithm=MD5(, qop=auth, cnonce=\"(\\w+)\", nc=00000001)?$").match(header(retry, credentials));
        QVERIFY2(m.hasMatch(), qPrintable(retry));
        const QString method = command.toUpper(), uri = "sip:example.test";
        QCOMPARE(m.captured(1), qop.isEmpty() ? p->sipAuthenticateResponse(method, "alice", "pw100", "r", uri, "abc")
                                              : p->sipAuthenticateResponseAuth(method, "alice", "pw100", "r", uri,
                                                                               "abc", m.captured(3), "00000001", "auth"));
        request = retry;
    }
    QCOMPARE(busy.size(), command == "invite" ? 1 : 0);
}

// An incoming call through two proxies: every answer carries both Vias in
// order; repeats of the INVITE and the BYE get the answers already sent; a
// re-INVITE moves the media; what matches no call gets 481 and no busy tone.
void TstProcessing::incomingCall()
{
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    // A caller who gives up while we ring: 200 for the CANCEL, 487 for the INVITE.
    exchange(invite("gone", "1"));
    QStringList out = exchange(invite("gone", "1", QString(), "CANCEL"));
    QCOMPARE(out.size(), 2);
    QVERIFY(out[0].startsWith("SIP/2.0 200 OK\r\n") && out[1].startsWith("SIP/2.0 487 Request Terminated\r\n"));
    out = exchange(invite("in", "5"));
    QCOMPARE(out.size(), 2);
    for (const QString &reply : out) {
        QCOMPARE(header(reply, "Via"), QString("SIP/2.0/UDP 127.0.0.2:5099;rport=%1;branch=z9hG4bKin5INVITE;"
                                               "received=127.0.0.2").arg(phone->port));
        QCOMPARE(header(reply, "Via", 1), QString("SIP/2.0/UDP 10.0.0.7:5060;branch=z9hG4bKcallerin5"));
    }
    QCOMPARE(exchange(invite("other", "1")).value(0).section("\r\n", 0, 0), "SIP/2.0 486 Busy Here");
    QCOMPARE(exchange(invite("other", "1", "x", "BYE")).value(0).section("\r\n", 0, 0),
             "SIP/2.0 481 Call/Transaction Does Not Exist");
    phone->sip->sendSipMsg("answer");
    const QString ok = exchange(QString()).value(0);
    QCOMPARE(header(ok, "Via", 1), QString("SIP/2.0/UDP 10.0.0.7:5060;branch=z9hG4bKcallerin5"));
    QCOMPARE(header(ok, "Record-Route", 1), QString("<sip:10.0.0.8;lr>"));
    QCOMPARE(exchange(invite("in", "5")), QStringList{ok});
    exchange(invite("in", "5", w->callToTag, "ACK"));
    QString reinvite = invite("in", "6", w->callToTag);
    out = exchange(reinvite.replace("127.0.0.9", "127.0.0.8"));
    QCOMPARE(header(out.value(0), "CSeq"), QString("6 INVITE"));
    QCOMPARE(w->mediaIp_, QString("127.0.0.8"));
    const QString bye = invite("in", "7", w->callToTag, "BYE");
    const QStringList byeOk = exchange(bye);
    QVERIFY(byeOk.value(0).startsWith("SIP/2.0 200 OK\r\n"));
    QCOMPARE(exchange(bye), byeOk);
    QCOMPARE(exchange(invite("in", "8", w->callToTag, "CANCEL")).value(0).left(11), "SIP/2.0 481");
    QCOMPARE(shown.size(), 2);
    QCOMPARE(busy.size(), 2);
    QCOMPARE(p->callState, 4);
}

void TstProcessing::routeSet_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("requestLine");
    QTest::addColumn<QStringList>("routes");
    QTest::newRow("two proxies") << QStringList{"Record-Route: <sip:p1;lr>, <sip:p2;lr>", "Contact: <sip:200@10.0.0.7>"}
                                 << "BYE sip:200@10.0.0.7 SIP/2.0" << QStringList{"<sip:p2;lr>", "<sip:p1;lr>"};
    QTest::newRow("no Record-Route, no Contact") << QStringList{} << "BYE sip:200@127.0.0.2:%1 SIP/2.0" << QStringList{};
}

// The caller's BYE follows the route set reversed, to the callee's Contact;
// a 200 OK without those headers leaves the BYE to the server.
void TstProcessing::routeSet()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, requestLine);
    QFETCH(QStringList, routes);
    exchange(responseTo(command("invite"), "200 OK", "calleetag", extra, sdp));
    const QString bye = command("disconnect");
    QCOMPARE(bye.section("\r\n", 0, 0), requestLine.arg(phone->port));
    QCOMPARE(header(bye, "Route"), routes.value(0));
    QCOMPARE(header(bye, "Route", 1), routes.value(1));
}

void TstProcessing::loss_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("repeated"); // start line of what goes out again
    QTest::addColumn<QString>("finally"); // what the phone sends once it gives up
    QTest::addColumn<QString>("busy");
    QTest::newRow("REGISTER lost") << "register" << "" << "REGISTER" << "" << "";
    QTest::newRow("INVITE lost") << "invite" << "" << "INVITE" << "" << "408 Нет ответа";
    QTest::newRow("BYE lost") << "bye" << "" << "BYE" << "" << "";
    QTest::newRow("ACK lost") << "answer" << "" << "SIP/2.0 200 OK" << "BYE" << "408 Нет подтверждения";
    QTest::newRow("486 until ACK") << "disconnect" << "" << "SIP/2.0 486 Busy Here" << "" << "";
}

// A datagram that gets no answer goes out again; what never gets one ends
// as a failure: the INVITE as unanswered, the unacknowledged 200 with a BYE.
void TstProcessing::loss()
{
    QFETCH(QString, command);
    QFETCH(QString, repeated);
    QFETCH(QString, finally);
    QFETCH(QString, busy);
    QSignalSpy busySpy(w, &MainWindow::busyStartSignal);
    if (command == "bye")
        exchange(responseTo(this->command("invite"), "200 OK", "calleetag", {}, sdp));
    if (command == "answer" || command == "disconnect")
        exchange(invite("lossy", "1"));
    SipTransactions::setTimers(20, 80);
    const QString first = this->command(command == "bye" ? "disconnect" : command.toLatin1());
    QVERIFY(first.startsWith(repeated));
    const int mark = phone->server->received.size();
    QVERIFY(phone->server->waitFor(mark + 1));
    QCOMPARE(sent(mark), first);
    if (!busy.isEmpty())
        QVERIFY(busySpy.wait(10000));
    QCOMPARE(busySpy.value(0).value(0).toString(), busy);
    if (!finally.isEmpty())
        QTRY_VERIFY(!phone->server->texts().filter(QRegularExpression("^" + finally + " ")).isEmpty());
    QCOMPARE(p->callState, command == "register" ? 0 : 4);
}

void TstProcessing::registration_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("refresh");
    QTest::newRow("Contact expires") << QStringList{"Contact: <sip:100@127.0.0.1;transport=udp>;expires=60",
                                                    "Expires: 600"} << 30000;
    QTest::newRow("Expires header") << QStringList{"Expires: 100"} << 50000;
    QTest::newRow("short grant") << QStringList{"Expires: 40"} << 10000;
    QTest::newRow("nothing granted") << QStringList{} << 1800000;
}

// The refresh follows the granted expiry; a registered phone sends keep-alives.
void TstProcessing::registration()
{
    QFETCH(QStringList, extra);
    QFETCH(int, refresh);
    w->keepAlive = 1;
    exchange(responseTo(command("register"), "200 OK", "r", extra));
    QVERIFY(phone->sip->registered);
    w->timerRegisterExpiredSlot();
    QCOMPARE(w->registerTimer->interval(), refresh);
    w->registerTimer->stop();
    exchange(responseTo(exchange(QString()).value(0), "200 OK", "r", extra));
    QVERIFY(phone->sip->registered);
    QVERIFY(phone->server->waitFor(phone->server->received.size() + 1));
    QCOMPARE(sent(phone->server->received.size() - 1), QString("\r\n\r\n"));
}

SORVANTO_TEST_MAIN(TstProcessing)
#include "tst_processing.moc"
