// A scripted server drives the user agent through datagrams and reads what it sends: the status table,
// challenges, dialogs through two proxies, and the transaction rules over UDP (retransmissions, timeouts, 481);
// over TCP, with every message split in two segments, requests are not repeated and still time out;
// SRTP keys in both directions of offer and answer, and the refusals when a call cannot be encrypted as set.

#include "agentfixture.h"
#include "sip.h"
#include "sipdigest.h"
#include "siptestserver.h"
#include "siptransactions.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QtTest>

namespace {
const QString kKey = "1 AES_CM_128_HMAC_SHA1_80 inline:gv7xS14xO3GIjB1Z7rMTlIQh63qXhc0mSPLWRfd1";
} // namespace

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
    void srtp_data();
    void srtp();

private:
    QStringList exchange(const QString &text) { return phone->exchange(text); }
    QString command(const char *word);
    QString invite(const QString &callId, const QString &cseq = "1", const QString &toTag = QString(),
                   const QString &method = "INVITE") const
    {
        return AgentFixture::request(method, callId, cseq, toTag, method == "INVITE" ? sdp : QString());
    }

    static QString header(const QString &text, const QString &name, int i = 0) { return AgentFixture::header(text, name, i); }

    // How the i-th call end the spy saw reads: the status line of a refusal, else the cause's name.
    static QString ended(const QSignalSpy &spy, int i = 0)
    {
        if (i >= spy.size())
            return QString();
        const CallEnd cause = spy.at(i).value(0).value<CallEnd>();
        return cause == CallEnd::Refused ? spy.at(i).value(2).toString() : QString(callEndName(cause));
    }

    const QString sdp = AgentFixture::sdp();
    AgentFixture *phone = nullptr;
    Sip *sip = nullptr;
    SipDialog *d = nullptr;
};

void TstProcessing::init()
{
    // No retransmission interferes unless a test asks for one.
    SipTransactions::setTimers(600000, 600000);
    phone = new AgentFixture();
    QVERIFY(phone->ready());
    sip = phone->sip;
    d = &sip->dialog;
}

void TstProcessing::cleanup()
{
    delete phone;
    phone = nullptr;
}

// Gives the user agent a command and returns the one datagram it sends.
QString TstProcessing::command(const char *word)
{
    d->called = "200";
    sip->sendSipMsg(word);
    return phone->exchange(QString()).value(0);
}

void TstProcessing::statusTable_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("ack");
    QTest::addColumn<QString>("busy");
    QTest::newRow("100") << "invite" << "100 Trying" << false << "";
    QTest::newRow("180 ignored") << "invite" << "180 Ringing" << false << "";
    QTest::newRow("183 with SDP") << "invite" << "183 Session Progress" << false << "";
    QTest::newRow("200 INVITE") << "invite" << "200 OK" << true << "";
    QTest::newRow("200 REGISTER") << "register" << "200 OK" << false << "";
    QTest::newRow("stray 200") << "invite" << "200 OK" << false << "";
    QTest::newRow("404") << "invite" << "404 Not Found" << true << "404 Not Found";
    QTest::newRow("480") << "invite" << "480 Gone" << true << "480 Temporarily Unavailable";
    QTest::newRow("486") << "invite" << "486 Busy" << true << "486 Busy Here";
    QTest::newRow("302 not followed") << "invite" << "302 Moved Temporarily" << true << "302 Moved Temporarily";
    QTest::newRow("500") << "invite" << "500 Server Error" << true << "500 Server Error";
    QTest::newRow("503") << "invite" << "503 Overloaded" << true << "503 Service Unavailable";
    QTest::newRow("603") << "invite" << "603 Decline" << true << "603 Decline";
    QTest::newRow("403 REGISTER") << "register" << "403 Forbidden" << false << "";
    QTest::newRow("700 ignored") << "invite" << "700 Odd" << false << "";
}

// Each answer to the phone's own request: ACK for every final answer of 300
// and above to an INVITE (and the 2xx), the cause shown, and nothing for an
// answer that matches no transaction or refuses a REGISTER.
void TstProcessing::statusTable()
{
    QFETCH(QString, command);
    QFETCH(QString, status);
    QFETCH(bool, ack);
    QFETCH(QString, busy);
    const bool invite = command == "invite", success = status.startsWith("200"), early = status.startsWith("183");
    const QString request = this->command(command.toLatin1());
    QSignalSpy busySpy(sip, &Sip::callEnded);
    QSignalSpy rx183(sip, &Sip::sessionProgress);
    QSignalSpy audio(sip, &Sip::callAnswered);
    QString response = AgentFixture::responseTo(request, status, {"Contact: <sip:200@127.0.0.2:5099>"}, success || early ? sdp : "");
    if (QTest::currentDataTag() == QLatin1String("stray 200"))
        response.replace(QRegularExpression("branch=z9hG4bK\\w+"), "branch=z9hG4bKstray");
    QStringList out = exchange(response);
    QCOMPARE(out.size(), ack ? 1 : 0);
    if (ack) {
        QVERIFY2(out[0].startsWith("ACK sip:200@127.0.0.2 SIP/2.0\r\n"), qPrintable(out[0]));
        QCOMPARE(header(out[0], "To"), header(request, "To") + ";tag=calleetag");
        // The ACK of a refusal belongs to the INVITE's transaction.
        if (!success)
            QCOMPARE(header(out[0], "Via"), header(request, "Via"));
    }
    QCOMPARE(ended(busySpy), busy);
    QCOMPARE(rx183.size(), int(early));
    QCOMPARE(audio.size(), int(ack && success));
    QCOMPARE(sip->registered, !invite && success);
    QCOMPARE(callStateName(sip->callState()), !invite ? "idle" : !ack ? "calling" : success ? "established" : "ended");
    QCOMPARE(d->mediaPort_, QString(audio.size() + rx183.size() ? "41000" : ""));
    // A final answer again is acknowledged again, and changes nothing more.
    if (ack)
        QVERIFY(exchange(response).value(0).startsWith("ACK "));
    QCOMPARE(busySpy.size() + audio.size(), int(!busy.isEmpty()) + int(ack && success));
}

void TstProcessing::challenges_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("proxy");
    QTest::addColumn<QString>("qop");
    QTest::newRow("REGISTER 401") << "register" << false << "";
    QTest::newRow("INVITE 407 qop") << "invite" << true << "auth";
    QTest::newRow("INVITE 401") << "invite" << false << "";
}

// An authorised retry is a new transaction (new branch, next CSeq, same
// Call-ID and From tag) whose digest names the login, hashes with it, and
// falls back to the domain, not the server; past two challenges it stops.
void TstProcessing::challenges()
{
    QFETCH(QString, command);
    QFETCH(bool, proxy);
    QFETCH(QString, qop);
    const QString status = proxy ? "407 Proxy Authentication Required" : "401 Unauthorized";
    const QString challenge = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
    const QString credentials = proxy ? "Proxy-Authorization" : "Authorization";
    phone->settings.login = "alice";
    phone->settings.domain = "example.test";
    QString request = this->command(command.toLatin1());
    QVERIFY(header(request, "From").startsWith("<sip:100@example.test") && request.contains("@127.0.0.2"));
    QSignalSpy busy(sip, &Sip::callEnded);
    const QString value = "Digest realm=\"r\", nonce=\"abc\"" + (qop.isEmpty() ? "" : ", qop=\"" + qop + "\"");
    for (int round = 1; round <= 3; ++round) {
        const QStringList out = exchange(AgentFixture::responseTo(request, status, {challenge + ": " + value}));
        const bool invite = command == "invite";
        QCOMPARE(out.size(), int(invite) + int(round < 3));
        if (invite)
            QCOMPARE(header(out[0], "Via"), header(request, "Via"));
        if (round == 3)
            break;
        const QString retry = out.last();
        QVERIFY(header(retry, "Via") != header(request, "Via"));
        QCOMPARE(header(retry, "CSeq").split(' ')[0].toInt(), header(request, "CSeq").split(' ')[0].toInt() + 1);
        for (const char *name : {"Call-ID", "From"})
            QCOMPARE(header(retry, name), header(request, name));
        const QRegularExpressionMatch m = QRegularExpression(
            "^Digest username=\"alice\", realm=\"r\", nonce=\"abc\", uri=\"sip:example.test\", response=\"(\\w+)\", "
            "algorithm=MD5(, qop=auth, cnonce=\"(\\w+)\", nc=00000001)?$").match(header(retry, credentials));
        QVERIFY2(m.hasMatch(), qPrintable(retry));
        const QString method = command.toUpper(), uri = "sip:example.test";
        QCOMPARE(m.captured(1), qop.isEmpty() ? digestResponse(method, "alice", "pw100", "r", uri, "abc")
                                              : digestResponseAuth(method, "alice", "pw100", "r", uri, "abc",
                                                                   m.captured(3), "00000001", "auth"));
        request = retry;
    }
    QCOMPARE(busy.size(), command == "invite" ? 1 : 0);
}

// An incoming call through two proxies: every answer carries both Vias in
// order; repeats of the INVITE and the BYE get the answers already sent; a
// re-INVITE moves the media; what matches no call gets 481 and no busy tone.
void TstProcessing::incomingCall()
{
    QSignalSpy shown(sip, &Sip::incomingCall);
    QSignalSpy busy(sip, &Sip::callEnded);
    // A caller who gives up while we ring: 200 for the CANCEL, 487 for the INVITE.
    exchange(invite("gone", "1"));
    QStringList out = exchange(invite("gone", "1", QString(), "CANCEL"));
    QVERIFY(out.value(0).startsWith("SIP/2.0 200 OK\r\n") && out.value(1).startsWith("SIP/2.0 487 Request Terminated"));
    out = exchange(invite("in", "5"));
    QCOMPARE(header(out.value(1), "Via"), QString("SIP/2.0/UDP 127.0.0.2:5099;rport=%1;branch=z9hG4bKin5INVITE;"
                                                  "received=127.0.0.2").arg(phone->port));
    QCOMPARE(exchange(invite("other", "1")).value(0).section("\r\n", 0, 0), "SIP/2.0 486 Busy Here");
    sip->sendSipMsg("answer");
    const QString ok = exchange(QString()).value(0);
    QCOMPARE(header(ok, "Via", 1), QString("SIP/2.0/UDP 10.0.0.7:5060;branch=z9hG4bKcallerin5"));
    QCOMPARE(header(ok, "Record-Route", 1), QString("<sip:10.0.0.8;lr>"));
    QCOMPARE(exchange(invite("in", "5")), QStringList{ok});
    exchange(invite("in", "5", d->callToTag, "ACK"));
    QString reinvite = invite("in", "6", d->callToTag);
    out = exchange(reinvite.replace("127.0.0.9", "127.0.0.8"));
    QCOMPARE(header(out.value(0), "CSeq"), QString("6 INVITE"));
    QCOMPARE(d->mediaIp_, QString("127.0.0.8"));
    const QString bye = invite("in", "7", d->callToTag, "BYE");
    const QStringList byeOk = exchange(bye);
    QVERIFY(byeOk.value(0).startsWith("SIP/2.0 200 OK\r\n"));
    QCOMPARE(exchange(bye), byeOk);
    QCOMPARE(exchange(invite("in", "8", d->callToTag, "CANCEL")).value(0).left(11), "SIP/2.0 481");
    QCOMPARE(exchange(invite("other", "2", "x", "BYE")).value(0).left(11), "SIP/2.0 481");
    QCOMPARE(shown.size(), 2);
    QCOMPARE(ended(busy, 0) + ", " + ended(busy, 1), QString("cancel, bye"));
}

void TstProcessing::routeSet_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("requestLine");
    QTest::addColumn<QString>("routes");
    QTest::newRow("two proxies") << QStringList{"Record-Route: <sip:p1;lr>, <sip:p2;lr>", "Contact: <sip:200@10.0.0.7>"}
                                 << "BYE sip:200@10.0.0.7 SIP/2.0" << "<sip:p2;lr><sip:p1;lr>";
    QTest::newRow("no Record-Route, no Contact") << QStringList{} << "BYE sip:200@127.0.0.2:%1 SIP/2.0" << "";
}

// The caller's BYE follows the route set reversed, to the callee's Contact;
// a 200 OK without those headers leaves the BYE to the server.
void TstProcessing::routeSet()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, requestLine);
    QFETCH(QString, routes);
    exchange(AgentFixture::responseTo(command("invite"), "200 OK", extra, sdp));
    const QString bye = command("disconnect");
    QCOMPARE(bye.section("\r\n", 0, 0), requestLine.arg(phone->port));
    QCOMPARE(header(bye, "Route") + header(bye, "Route", 1), routes);
}

void TstProcessing::loss_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("repeated"); // start line of what goes out again
    QTest::addColumn<QString>("busy");
    QTest::addColumn<QString>("transport");
    QTest::newRow("REGISTER lost") << "register" << "REGISTER" << "" << "UDP";
    QTest::newRow("INVITE lost") << "invite" << "INVITE" << "no answer" << "UDP";
    QTest::newRow("BYE lost") << "bye" << "BYE" << "" << "UDP";
    QTest::newRow("CANCEL lost") << "cancel" << "CANCEL" << "" << "UDP";
    QTest::newRow("ACK lost, then BYE") << "answer" << "SIP/2.0 200 OK" << "not acknowledged" << "UDP";
    QTest::newRow("486 until ACK") << "disconnect" << "SIP/2.0 486 Busy Here" << "" << "UDP";
    QTest::newRow("TCP: REGISTER once, then timeout") << "register" << "" << "408" << "TCP";
    QTest::newRow("TCP: INVITE once, then timeout") << "invite" << "" << "no answer" << "TCP";
    QTest::newRow("TCP: 200 OK until ACK") << "answer" << "SIP/2.0 200 OK" << "not acknowledged" << "TCP";
}

// A datagram that gets no answer goes out again; what never gets one ends
// as a failure: the INVITE as unanswered, the unacknowledged 200 with a BYE.
void TstProcessing::loss()
{
    QFETCH(QString, command);
    QFETCH(QString, repeated);
    QFETCH(QString, busy);
    QFETCH(QString, transport);
    if (transport != "UDP")
        QVERIFY(phone->useStream(transport));
    QSignalSpy busySpy(sip, &Sip::callEnded), registered(sip, &Sip::registrationChanged);
    const QString setup = command == "bye" || command == "cancel" ? this->command("invite") : QString();
    if (command == "bye")
        exchange(AgentFixture::responseTo(setup, "200 OK", {}, sdp));
    if (command == "answer" || command == "disconnect")
        exchange(invite("lossy", "1"));
    SipTransactions::setTimers(20, 80);
    const QString first = this->command(setup.isEmpty() ? command.toLatin1() : "disconnect");
    QVERIFY(first.startsWith(repeated.isEmpty() ? command.toUpper() + ' ' : repeated));
    if (transport != "UDP") // the stream named, its own port in Contact
        QVERIFY2(header(first, "Via").startsWith("SIP/2.0/" + transport + ' ')
                     && header(first, "Contact").contains(QRegularExpression(":(?!" + QString::number(phone->port)
                                                                             + ";)\\d+;transport=" + transport.toLower() + '>')),
                 qPrintable(first));
    const int mark = phone->server->received.size();
    if (repeated.isEmpty()) { // Timer B alone: one copy, then the timeout
        QVERIFY(busy == "408" ? registered.wait(10000) : busySpy.wait(10000));
        QCOMPARE(phone->server->texts().count(first), 1);
    } else {
        QVERIFY(phone->server->waitFor(mark + 1));
        QCOMPARE(QString::fromUtf8(phone->server->received.at(mark)), first);
    }
    if (busy == "408")
        QCOMPARE(registered.last(), QVariantList({false, 408}));
    else if (!busy.isEmpty() && busySpy.isEmpty())
        QVERIFY(busySpy.wait(10000));
    QCOMPARE(ended(busySpy), busy == "408" ? "" : busy);
    if (command == "answer")
        QTRY_VERIFY(!phone->server->texts().filter(QRegularExpression("^BYE ")).isEmpty());
    QCOMPARE(callStateName(sip->callState()), command == "register" ? "idle" : "ended");
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

// The refresh follows the granted expiry (keep-alives: tests/e2e).
void TstProcessing::registration()
{
    QFETCH(QStringList, extra);
    QFETCH(int, refresh);
    QSignalSpy registered(sip, &Sip::registrationChanged);
    exchange(AgentFixture::responseTo(command("register"), "200 OK", extra));
    QCOMPARE(registered.value(0), QVariantList({true, 200}));
    QCOMPARE(sip->refreshSeconds() * 1000, refresh);
}

void TstProcessing::srtp_data()
{
    // The setting; who offers; the far end's profile and a=crypto ("ours": answers our first line);
    // the first line the phone sends in reply; the end shown (empty: the call is up), and whether its media is SRTP.
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("offerer");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("crypto");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("srtp");
    QTest::newRow("required, far offer without a=crypto") << "SRTP" << "far" << "RTP/AVP" << "" << "SIP/2.0 488 Not Acceptable Here" << "" << false;
    QTest::newRow("required, far offer with keys") << "SRTP" << "far" << "RTP/SAVP" << kKey << "SIP/2.0 200 OK" << "" << true;
    QTest::newRow("off, far SAVP offer") << "Отключено" << "far" << "RTP/SAVP" << kKey << "SIP/2.0 488 Not Acceptable Here" << "" << false;
    QTest::newRow("if possible, far clear offer") << "SRTP, если возможно" << "far" << "RTP/AVP" << "" << "SIP/2.0 200 OK" << "" << false;
    QTest::newRow("required, answer without a=crypto") << "SRTP" << "we" << "RTP/AVP" << "" << "ACK" << "not encrypted" << false;
    QTest::newRow("required, answer with keys") << "SRTP" << "we" << "RTP/SAVP" << "ours" << "ACK" << "" << true;
    QTest::newRow("if possible, answer without a=crypto") << "SRTP, если возможно" << "we" << "RTP/AVP" << "" << "ACK" << "" << false;
}

void TstProcessing::srtp()
{
    QFETCH(QString, setting);
    QFETCH(QString, offerer);
    QFETCH(QString, profile);
    QFETCH(QString, crypto);
    QFETCH(QString, reply);
    QFETCH(QString, end);
    QFETCH(bool, srtp);
    phone->settings.encryptMedia = setting;
    QSignalSpy ends(sip, &Sip::callEnded), media(sip, &Sip::mediaChanged);
    QString farSdp = sdp;
    farSdp.replace("RTP/AVP", profile);
    QStringList out;
    QString ours; // the phone's own description
    if (offerer == "far") {
        out = exchange(AgentFixture::request("INVITE", "srtp", "1", QString(), farSdp + (crypto.isEmpty() ? "" : "a=crypto:" + crypto + "\r\n")));
        if (!out.value(0).startsWith("SIP/2.0 488")) {
            sip->sendSipMsg("answer");
            out = exchange(QString());
        }
        ours = out.value(0).section("\r\n\r\n", 1);
    } else {
        const QString request = command("invite");
        ours = request.section("\r\n\r\n", 1);
        QVERIFY2(ours.contains("m=audio " + QString::number(d->localSdp.mediaPort) + (setting == "SRTP" ? " RTP/SAVP " : " RTP/AVP ")), qPrintable(ours));
        const QString offered = QRegularExpression("a=crypto:(1 [^\r]+)").match(ours).captured(1);
        QVERIFY(!offered.isEmpty());
        out = exchange(AgentFixture::responseTo(request, "200 OK", {"Contact: <sip:200@127.0.0.2:5099>"},
                                                farSdp + (crypto.isEmpty() ? "" : "a=crypto:" + QString(offered).replace(QRegularExpression("inline:\\S+"), kKey.section(' ', 2)) + "\r\n")));
    }
    QVERIFY2(out.value(0).startsWith(reply), qPrintable(out.value(0)));
    QCOMPARE(ended(ends), end);
    QCOMPARE(out.size() == 2 && out[1].startsWith("BYE "), !end.isEmpty()); // the unencrypted call is ended at once
    const MediaDescription settled = media.isEmpty() ? MediaDescription() : media.last().value(0).value<MediaDescription>();
    QCOMPARE(settled.srtp, srtp);
    if (!srtp)
        return;
    // Our key goes in our description; the far end's key is the one we receive with.
    QVERIFY(ours.contains("a=crypto:1 AES_CM_128_HMAC_SHA1_80 inline:" + settled.sendKey.keySalt.toBase64() + "\r\n"));
    QCOMPARE(settled.receiveKey.toString().section(' ', 2), kKey.section(' ', 2));
    QVERIFY(!ours.contains(kKey.section(' ', 2)));
}

SORVANTO_TEST_MAIN(TstProcessing)
#include "tst_processing.moc"
