// Received messages drive the call state machine: status table, challenges and their bound, replies,
// commands, timer, and the call-handling fixes (one call, retransmissions, late answers, server only).

#include "agentfixture.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "siptestserver.h"
#include "testmain.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

class TstProcessing : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void statusTable_data();
    void statusTable();
    void registerChallenge();
    void inviteChallenge_data();
    void inviteChallenge();
    void replies();
    void commands();
    void registrationTimer();
    void secondCaller_data();
    void secondCaller();
    void retransmittedInvite();
    void cancelledIncomingCall();
    void reInvite();
    void lateFinalAnswers_data();
    void lateFinalAnswers();
    void lateAnswerAfterCancel();
    void callerAfterRefusedCall();
    void onlyTheServerMaySpeak();
    void utf8Caller();
    void transport();

private:
    // Sends `text` (if any) to the phone, then an OPTIONS as a barrier, and
    // returns what the phone sent in between: processing is synchronous, so
    // once the barrier's answer is back the message has had all its effects.
    QStringList exchange(const QString &text);
    QString outgoingCall();
    QString incomingInvite(const QString &callId, const QString &cseq = "1", const QString &toTag = QString(),
                           const QString &from = "<sip:200@127.0.0.2>;tag=callertag");
    static QString header(const QString &text, const QString &name);
    QString responseTo(const QString &request, const QString &status, const QString &toTag = "calleetag",
                       const QStringList &extra = {}, const QString &body = QString());
    static QString md5(const QString &text);

    AgentFixture *phone = nullptr;
    MainWindow *w = nullptr;
    SipParser *p = nullptr;
    int barrierCount = 0;
};

const QString sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.9\r\ns=-\r\nc=IN IP4 127.0.0.9\r\nt=0 0\r\n"
                    "m=audio 41000 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n";

void TstProcessing::init()
{
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

QString TstProcessing::md5(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString TstProcessing::header(const QString &text, const QString &name)
{
    const QRegularExpression re("(?:^|\r\n)" + QRegularExpression::escape(name) + ": ([^\r\n]*)");
    return re.match(text).captured(1);
}

QStringList TstProcessing::exchange(const QString &text)
{
    SipTestServer *server = phone->server;
    const int mark = server->received.size();
    if (!text.isEmpty())
        server->send(text);
    const QString id = QString("barrier-%1").arg(++barrierCount);
    server->send(AgentFixture::message({"OPTIONS sip:100@127.0.0.1 SIP/2.0",
                                        "Via: SIP/2.0/UDP 127.0.0.2;branch=z9hG4bK" + id,
                                        "From: <sip:server@127.0.0.2>;tag=b", "To: <sip:100@127.0.0.2>",
                                        "Call-ID: " + id, "CSeq: 1 OPTIONS", "Content-Length: 0"}));
    QStringList between;
    for (int seen = mark;;) {
        if (seen >= server->received.size() && !server->waitFor(seen + 1, 3000)) {
            qWarning("barrier answer missing");
            return between;
        }
        const QString datagram = QString::fromUtf8(server->received.at(seen++));
        if (header(datagram, "Call-ID") == id)
            return between;
        between << datagram;
    }
}

QString TstProcessing::outgoingCall()
{
    w->called = "200";
    const int mark = phone->server->received.size();
    phone->sip->sendSipMsg("invite");
    if (!phone->server->waitFor(mark + 1))
        return QString();
    return QString::fromUtf8(phone->server->received.at(mark));
}

QString TstProcessing::incomingInvite(const QString &callId, const QString &cseq, const QString &toTag,
                                      const QString &from)
{
    return AgentFixture::message({"INVITE sip:100@127.0.0.1 SIP/2.0",
                                  "Via: SIP/2.0/UDP 127.0.0.2:5099;rport;branch=z9hG4bK" + callId + cseq,
                                  "From: " + from,
                                  "To: <sip:100@127.0.0.2>" + (toTag.isEmpty() ? QString() : ";tag=" + toTag),
                                  "Call-ID: " + callId, "CSeq: " + cseq + " INVITE",
                                  "Contact: <sip:200@127.0.0.2:5099>", "Content-Type: application/sdp",
                                  "Content-Length: " + QString::number(sdp.size())},
                                 sdp);
}

QString TstProcessing::responseTo(const QString &request, const QString &status, const QString &toTag,
                                  const QStringList &extra, const QString &body)
{
    QStringList lines{"SIP/2.0 " + status, "Via: " + header(request, "Via"), "From: " + header(request, "From"),
                      "To: " + header(request, "To") + (toTag.isEmpty() ? QString() : ";tag=" + toTag),
                      "Call-ID: " + header(request, "Call-ID"), "CSeq: " + header(request, "CSeq")};
    lines += extra;
    if (!body.isEmpty())
        lines << "Content-Type: application/sdp";
    lines << "Content-Length: " + QString::number(body.size());
    return AgentFixture::message(lines, body);
}

void TstProcessing::statusTable_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("method");
    QTest::addColumn<bool>("withSdp");
    QTest::addColumn<bool>("ack");
    QTest::addColumn<QString>("busy");
    QTest::addColumn<QString>("signal");

    QTest::newRow("100") << "100 Trying" << "INVITE" << false << false << "" << "";
    QTest::newRow("180 ignored") << "180 Ringing" << "INVITE" << false << false << "" << "";
    QTest::newRow("183 with SDP") << "183 Session Progress" << "INVITE" << true << false << "" << "rx183 early";
    QTest::newRow("183 without SDP") << "183 Session Progress" << "INVITE" << false << false << "" << "rx183";
    QTest::newRow("200 INVITE") << "200 OK" << "INVITE" << true << true << "" << "audioStart";
    QTest::newRow("200 REGISTER") << "200 OK" << "REGISTER" << false << false << "" << "registered";
    QTest::newRow("200 BYE") << "200 OK" << "BYE" << false << false << "" << "";
    QTest::newRow("202") << "202 Accepted" << "INVITE" << false << false << "" << "";
    QTest::newRow("302") << "302 Moved Temporarily" << "INVITE" << false << false << "" << "";
    QTest::newRow("404") << "404 Not Found" << "INVITE" << false << true << "404 Not Found" << "";
    QTest::newRow("403 REGISTER") << "403 Forbidden" << "REGISTER" << false << true << "403 Forbidden" << "";
    QTest::newRow("480") << "480 Temporarily Not Available" << "INVITE" << false << true
                         << "480 Temporarily Unavailable" << "";
    QTest::newRow("481") << "481 Call Leg Does Not Exist" << "INVITE" << false << true
                         << "481 Call transaction does not exist" << "";
    QTest::newRow("486") << "486 Busy" << "INVITE" << false << true << "486 Busy Here" << "";
    QTest::newRow("487") << "487 Request Cancelled" << "INVITE" << false << true << "487 Request Terminated" << "";
    QTest::newRow("488") << "488 Not Acceptable Here" << "INVITE" << false << true << "488 Not acceptable here" << "";
    QTest::newRow("407 to OPTIONS") << "407 Proxy Authentication Required" << "OPTIONS" << false << false << "" << "";
    QTest::newRow("502 silent") << "502 Bad Gateway" << "INVITE" << false << false << "" << "";
    QTest::newRow("503") << "503 Overloaded" << "INVITE" << false << true << "503 Service Unavailable" << "";
    QTest::newRow("600") << "600 Busy" << "INVITE" << false << true << "600 Busy Everywhere" << "";
    QTest::newRow("603 silent") << "603 Decline" << "INVITE" << false << false << "" << "";
    QTest::newRow("700 ignored") << "700 Odd" << "INVITE" << false << false << "" << "";
}

void TstProcessing::statusTable()
{
    QFETCH(QString, status);
    QFETCH(QString, method);
    QFETCH(bool, withSdp);
    QFETCH(bool, ack);
    QFETCH(QString, busy);
    QFETCH(QString, signal);

    const QString invite = outgoingCall();
    QVERIFY(!invite.isEmpty());
    QSignalSpy busySpy(w, &MainWindow::busyStartSignal);
    QSignalSpy rx183Spy(w, &MainWindow::rx183Signal);
    QSignalSpy audioSpy(w, &MainWindow::audioStartSignal);
    QSignalSpy registeredSpy(w, &MainWindow::registeredSignal);

    QString response = responseTo(invite, status, "calleetag", {"Contact: <sip:200@127.0.0.2:5099>"},
                                  withSdp ? sdp : QString());
    response.replace(QRegularExpression("CSeq: (\\d+) INVITE"), "CSeq: \\1 " + method);
    const QStringList sent = exchange(response);

    QCOMPARE(sent.size(), ack ? 1 : 0);
    if (ack) {
        QVERIFY2(sent[0].startsWith("ACK sip:200@127.0.0.2 SIP/2.0\r\n"), qPrintable(sent[0]));
        QCOMPARE(header(sent[0], "CSeq"), QString("1 ACK"));
        QCOMPARE(header(sent[0], "To"), header(invite, "To") + ";tag=calleetag");
        QCOMPARE(header(sent[0], "Max-Forwards"), QString("70"));
        QCOMPARE(header(sent[0], "Content-Length"), QString("0"));
        QVERIFY(!sent[0].contains("Contact:"));
    }
    QCOMPARE(busySpy.size(), busy.isEmpty() ? 0 : 1);
    if (!busy.isEmpty())
        QCOMPARE(busySpy.at(0).at(0).toString(), busy);
    QCOMPARE(rx183Spy.size(), signal.startsWith("rx183") ? 1 : 0);
    QCOMPARE(w->earlyMedia, signal == "rx183 early");
    QCOMPARE(audioSpy.size(), signal == "audioStart" ? 1 : 0);
    QCOMPARE(registeredSpy.size(), signal == "registered" ? 1 : 0);
    QCOMPARE(phone->sip->registered, signal == "registered");
    if (signal == "audioStart" || signal == "rx183 early") {
        QCOMPARE(w->mediaIp_, QString("127.0.0.9"));
        QCOMPARE(w->mediaPort_, QString("41000"));
    }
    // A refused INVITE ends the call; anything else leaves it calling.
    const int state = signal == "audioStart" ? 3 : (!busy.isEmpty() && method == "INVITE") ? 4 : 1;
    QCOMPARE(p->callState, state);
    if (signal == "audioStart") {
        // A retransmitted 200 is acknowledged again without restarting the audio.
        QCOMPARE(exchange(response).size(), 1);
        QCOMPARE(audioSpy.size(), 1);
    }
    if (status.startsWith("1") && status != "180 Ringing")
        QCOMPARE(w->callToTag, QString("calleetag"));
}

// A 401 to REGISTER gets an authorised retry with the same identifiers and no
// ACK; a second 401 is answered, a third is not, until the next REGISTER.
void TstProcessing::registerChallenge()
{
    phone->sip->sendSipMsg("register");
    QVERIFY(phone->server->waitFor(1));
    const QString reg = phone->server->texts().at(0);
    const QString challenge = responseTo(reg, "401 Unauthorized", "regtag",
                                         {"WWW-Authenticate: Digest realm=\"sorvanto.test\", "
                                          "nonce=\"n0nce\", qop=\"auth\", opaque=\"op\", algorithm=MD5"});
    QStringList sent = exchange(challenge);
    QCOMPARE(sent.size(), 1);
    const QString retry = sent[0];
    QVERIFY(retry.startsWith("REGISTER sip:100@127.0.0.2:" + QString::number(phone->port) + " SIP/2.0\r\n"));
    for (const char *name : {"Via", "From", "To", "Call-ID", "CSeq"})
        QCOMPARE(header(retry, name), header(reg, name));
    // REGISTER always takes the plain variant; the digest URI falls back to the domain.
    const QString response = md5(md5("100:sorvanto.test:pw100") + ":n0nce:" + md5("REGISTER:sip:127.0.0.2"));
    QCOMPARE(header(retry, "Authorization"),
             "Digest username=\"100\", realm=\"sorvanto.test\", nonce=\"n0nce\", uri=\"sip:127.0.0.2\", "
             "response=\"" + response + "\", algorithm=MD5");

    QCOMPARE(exchange(challenge).size(), 1);
    QCOMPARE(exchange(challenge).size(), 0);

    // A new REGISTER starts counting again; a 200 also resets it.
    phone->sip->sendSipMsg("register");
    QVERIFY(phone->server->waitFor(phone->server->received.size() + 1));
    QCOMPARE(exchange(responseTo(phone->server->last(), "401 Unauthorized", "regtag",
                                 {"WWW-Authenticate: Digest realm=\"r\", nonce=\"n\""})).size(), 1);
    // A challenge without realm or nonce is not answered.
    QCOMPARE(exchange(responseTo(reg, "401 Unauthorized", "regtag", {"WWW-Authenticate: Digest realm=\"r\""})).size(),
             0);
}

void TstProcessing::inviteChallenge_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("challengeHeader");
    QTest::addColumn<QString>("qop");
    QTest::addColumn<QString>("credentialsHeader");
    QTest::newRow("407 qop auth") << "407 Proxy Authentication Required" << "Proxy-Authenticate" << "auth"
                                  << "Proxy-Authorization";
    QTest::newRow("401 plain") << "401 Unauthorized" << "WWW-Authenticate" << "" << "Authorization";
    QTest::newRow("407 qop list is plain") << "407 Proxy Authentication Required" << "Proxy-Authenticate"
                                           << "auth,auth-int" << "Proxy-Authorization";
}

// An INVITE challenge is ACKed and retried with credentials and the next CSeq;
// past two consecutive challenges the call ends as refused.
void TstProcessing::inviteChallenge()
{
    QFETCH(QString, status);
    QFETCH(QString, challengeHeader);
    QFETCH(QString, qop);
    QFETCH(QString, credentialsHeader);

    const QString invite = outgoingCall();
    QSignalSpy busySpy(w, &MainWindow::busyStartSignal);
    QString value = "Digest realm=\"sorvanto.test\", nonce=\"abc\", algorithm=MD5";
    if (!qop.isEmpty())
        value += ", qop=\"" + qop + "\", opaque=\"5ccc069c403ebaf9\"";
    const QString challenge = responseTo(invite, status, "proxytag", {challengeHeader + ": " + value});
    QStringList sent = exchange(challenge);
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent[0].startsWith("ACK "));
    QCOMPARE(header(sent[0], "CSeq"), QString("1 ACK"));
    const QString retry = sent[1];
    QVERIFY(retry.startsWith("INVITE sip:200@127.0.0.2:"));
    QCOMPARE(header(retry, "CSeq"), QString("2 INVITE"));
    QCOMPARE(header(retry, "Call-ID"), header(invite, "Call-ID"));
    QCOMPARE(header(retry, "From"), header(invite, "From"));
    QCOMPARE(retry.section("\r\n\r\n", 1), invite.section("\r\n\r\n", 1));

    const QString credentials = header(retry, credentialsHeader);
    const QString ha1 = md5("100:sorvanto.test:pw100"), ha2 = md5("INVITE:sip:127.0.0.2");
    const QString prefix = "Digest username=\"100\", realm=\"sorvanto.test\", nonce=\"abc\", uri=\"sip:127.0.0.2\", ";
    if (qop == "auth") {
        const QRegularExpressionMatch m = QRegularExpression(
            "^" + QRegularExpression::escape(prefix)
            + "response=\"([0-9a-f]{32})\", algorithm=MD5, qop=auth, cnonce=\"([0-9a-f]{8})\", nc=00000001, "
              "opaque=\"5ccc069c403ebaf9\"$").match(credentials);
        QVERIFY2(m.hasMatch(), qPrintable(credentials));
        QCOMPARE(m.captured(1), md5(ha1 + ":abc:00000001:" + m.captured(2) + ":auth:" + ha2));
    } else {
        QCOMPARE(credentials, prefix + "response=\"" + md5(ha1 + ":abc:" + ha2) + "\", algorithm=MD5");
    }

    QCOMPARE(exchange(challenge).size(), 2);
    QCOMPARE(busySpy.size(), 0);
    sent = exchange(challenge);
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].startsWith("ACK "));
    QCOMPARE(busySpy.size(), 1);
    QCOMPARE(busySpy.at(0).at(0).toString(), status);
    QCOMPARE(p->callState, 4);
}

void TstProcessing::replies()
{
    // OPTIONS: 200 with a new To tag, User-Agent and an empty body.
    const QString options = AgentFixture::message(
        {"OPTIONS sip:100@127.0.0.1 SIP/2.0", "Via: SIP/2.0/UDP 127.0.0.2:5099;rport;branch=z9hG4bKopt",
         "Max-Forwards: 70", "From: <sip:server@127.0.0.2>;tag=srv", "To: <sip:100@127.0.0.2>",
         "Call-ID: opt-1", "CSeq: 9 OPTIONS", "X-Asterisk-HangupCause: x", "Supported: replaces",
         "Content-Length: 0"});
    QStringList sent = exchange(options);
    QCOMPARE(sent.size(), 1);
    const QString ok = sent[0];
    QVERIFY(ok.startsWith("SIP/2.0 200 OK\r\n"));
    // The Via names the configured server address and port (RFC 3581).
    QCOMPARE(header(ok, "Via"), QString("SIP/2.0/UDP 127.0.0.2:5099;rport=%1;branch=z9hG4bKopt;received=127.0.0.2")
                                    .arg(phone->port));
    QVERIFY(QRegularExpression("^<sip:100@127.0.0.2>;tag=[0-9A-Za-z]{8}$").match(header(ok, "To")).hasMatch());
    QCOMPARE(header(ok, "User-Agent"), QString("Sorvanto"));
    QCOMPARE(header(ok, "Content-Length"), QString("0"));
    QCOMPARE(header(ok, "Supported"), QString("replaces, timer"));
    QVERIFY(!ok.contains("Max-Forwards") && !ok.contains("X-Asterisk"));

    // An existing received value is replaced, not extended.
    QString received = options;
    received.replace(";rport;branch=z9hG4bKopt", ";received=10.9.9.9;branch=z9hG4bKopt");
    sent = exchange(received);
    QCOMPARE(header(sent.value(0), "Via"), QString("SIP/2.0/UDP 127.0.0.2:5099;received=127.0.0.2;branch=z9hG4bKopt"));

    // Nothing is sent back over a transport the phone does not speak.
    QString tcp = options;
    tcp.replace("SIP/2.0/UDP", "SIP/2.0/TCP");
    QCOMPARE(exchange(tcp).size(), 0);

    // Every request gets a final answer; unknown methods are not implemented.
    QString info = options;
    info.replace("OPTIONS", "INFO");
    sent = exchange(info);
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].startsWith("SIP/2.0 501 Not Implemented\r\n"));
    QString ack = options;
    ack.replace("OPTIONS", "ACK");
    QCOMPARE(exchange(ack).size(), 0);
}

void TstProcessing::commands()
{
    QSignalSpy audioStart(w, &MainWindow::audioStartSignal);
    QSignalSpy audioStop(w, &MainWindow::audioStopSignal);
    // Exact, case-sensitive words; "answer" before any INVITE sends nothing.
    for (const char *word : {"Invite", "INVITE", "invite ", "registration", "", "answer"})
        phone->sip->sendSipMsg(word);
    QCOMPARE(exchange(QString()).size(), 0);
    QCOMPARE(audioStart.size(), 0);

    // Ringing incoming call: "disconnect" rejects it with 486 and stops audio.
    QStringList sent = exchange(incomingInvite("in-1"));
    QCOMPARE(sent.size(), 2);
    phone->sip->sendSipMsg("disconnect");
    sent = exchange(QString());
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].startsWith("SIP/2.0 486 Busy Here\r\n"));
    QCOMPARE(header(sent[0], "Call-ID"), QString("in-1"));
    QCOMPARE(audioStop.size(), 1);

    // Outgoing call: CANCEL while ringing, BYE once established.
    const QString invite = outgoingCall();
    phone->sip->sendSipMsg("disconnect");
    sent = exchange(QString());
    QVERIFY(sent.value(0).startsWith("CANCEL "));
    outgoingCall();
    exchange(responseTo(phone->server->last(), "200 OK", "t", {"Contact: <sip:200@127.0.0.2:5099>"}, sdp));
    QCOMPARE(audioStart.size(), 1);
    phone->sip->sendSipMsg("disconnect");
    sent = exchange(QString());
    QVERIFY(sent.value(0).startsWith("BYE "));
    QCOMPARE(audioStop.size(), 3);
}

// Registration timer: 1 s after start, then registrTimeout while registered,
// 5 s while not; no account, no REGISTER.
void TstProcessing::registrationTimer()
{
    QVERIFY(w->registerTimer);
    QCOMPARE(w->registerTimer->interval(), 1000);
    w->registrTimeout = 1800;
    phone->sip->registered = false;
    w->timerRegisterExpiredSlot();
    QCOMPARE(w->registerTimer->interval(), 5000);
    QVERIFY(phone->server->waitFor(1));
    QVERIFY(phone->server->last().startsWith("REGISTER "));
    exchange(responseTo(phone->server->last(), "200 OK"));
    QVERIFY(phone->sip->registered);
    w->timerRegisterExpiredSlot();
    QCOMPARE(w->registerTimer->interval(), 1800 * 1000);
    QVERIFY(exchange(QString()).value(0).startsWith("REGISTER "));
    w->password.clear();
    phone->sip->registered = false;
    w->timerRegisterExpiredSlot();
    QCOMPARE(w->registerTimer->interval(), 5000);
    QCOMPARE(exchange(QString()).size(), 0);
    w->registerTimer->stop();
}

void TstProcessing::secondCaller_data()
{
    QTest::addColumn<bool>("established");
    QTest::newRow("while ringing") << false;
    QTest::newRow("while established") << true;
}

// A second caller gets 486 and changes nothing: the first call can still be
// answered or hung up. A CANCEL or BYE of that other dialog leaves it alone too.
void TstProcessing::secondCaller()
{
    QFETCH(bool, established);
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    QCOMPARE(exchange(incomingInvite("first")).size(), 2);
    const QString toTag = w->callToTag;
    if (established) {
        phone->sip->sendSipMsg("answer");
        QCOMPARE(exchange(QString()).size(), 1);
    }
    const int state = p->callState;

    QStringList sent = exchange(incomingInvite("second", "1", QString(),
                                               "\"Eve\" <sip:300@127.0.0.2>;tag=evetag"));
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].startsWith("SIP/2.0 486 Busy Here\r\n"));
    QCOMPARE(header(sent[0], "Call-ID"), QString("second"));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(w->callCallId, QString("first"));
    QCOMPARE(w->callToTag, toTag);
    QCOMPARE(w->called, QString("200"));
    QCOMPARE(p->callState, state);

    QString cancel = incomingInvite("second");
    cancel.replace("INVITE", "CANCEL");
    sent = exchange(cancel);
    QVERIFY(sent.value(0).startsWith("SIP/2.0 481 "));
    QCOMPARE(busy.size(), 0);
    QCOMPARE(p->callState, state);

    if (!established) {
        phone->sip->sendSipMsg("answer");
        sent = exchange(QString());
        QCOMPARE(sent.size(), 1);
        QVERIFY(sent[0].startsWith("SIP/2.0 200 OK\r\n"));
        QCOMPARE(header(sent[0], "Call-ID"), QString("first"));
        QCOMPARE(header(sent[0], "To"), "<sip:100@127.0.0.2>;tag=" + toTag);
    }
    phone->sip->sendSipMsg("disconnect");
    sent = exchange(QString());
    QVERIFY(sent.value(0).startsWith("BYE sip:200@"));
    QCOMPARE(header(sent[0], "Call-ID"), QString("first"));
    QCOMPARE(header(sent[0], "To"), QString("<sip:200@127.0.0.2>;tag=callertag"));
}

// A caller who gives up while the phone rings gets 200 for the CANCEL and 487
// for the INVITE, under the To tag of the 180; the ACK of the 487 is not answered.
void TstProcessing::cancelledIncomingCall()
{
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    const QStringList ringing = exchange(incomingInvite("gone", "5"));
    QCOMPARE(ringing.size(), 2);
    QString cancel = incomingInvite("gone", "5");
    cancel.replace("INVITE", "CANCEL");
    const QStringList sent = exchange(cancel);
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent[0].startsWith("SIP/2.0 200 OK\r\n"));
    QCOMPARE(header(sent[0], "CSeq"), QString("5 CANCEL"));
    QVERIFY(sent[1].startsWith("SIP/2.0 487 Request Terminated\r\n"));
    QCOMPARE(header(sent[1], "CSeq"), QString("5 INVITE"));
    QCOMPARE(header(sent[1], "To"), header(ringing[1], "To"));
    QCOMPARE(header(sent[1], "Via"), header(ringing[1], "Via"));
    QCOMPARE(busy.size(), 1);
    QCOMPARE(p->callState, 4);

    QString ack = incomingInvite("gone", "5", w->callToTag);
    ack.replace("INVITE", "ACK");
    QCOMPARE(exchange(ack).size(), 0);
}

// The same INVITE twice: two 100/180 pairs with one To tag, one incoming-call signal.
void TstProcessing::retransmittedInvite()
{
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    const QStringList first = exchange(incomingInvite("again", "3"));
    const QStringList second = exchange(incomingInvite("again", "3"));
    QCOMPARE(first.size(), 2);
    QCOMPARE(second.size(), 2);
    QVERIFY(second[0].startsWith("SIP/2.0 100 Trying\r\n"));
    QVERIFY(second[1].startsWith("SIP/2.0 180 Ringing\r\n"));
    QCOMPARE(header(second[1], "To"), header(first[1], "To"));
    QCOMPARE(header(second[1], "To"), "<sip:100@127.0.0.2>;tag=" + w->callToTag);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(p->callState, 2);
    // A new CSeq on the same Call-ID without a To tag is a new offer, as before.
}

// A re-INVITE of the established call is answered 200 with SDP and moves the
// media; it does not ring again or reset the call.
void TstProcessing::reInvite()
{
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    exchange(incomingInvite("refresh", "1"));
    phone->sip->sendSipMsg("answer");
    exchange(QString());
    const QString toTag = w->callToTag;
    QString reinvite = incomingInvite("refresh", "2", toTag);
    reinvite.replace("127.0.0.9", "127.0.0.8").replace("41000", "42000");
    const QStringList sent = exchange(reinvite);
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].startsWith("SIP/2.0 200 OK\r\n"));
    QCOMPARE(header(sent[0], "CSeq"), QString("2 INVITE"));
    QCOMPARE(header(sent[0], "To"), "<sip:100@127.0.0.2>;tag=" + toTag);
    QVERIFY(sent[0].contains("\r\n\r\nv=0\r\nt=0 0\r\n"));
    QCOMPARE(w->mediaIp_, QString("127.0.0.8"));
    QCOMPARE(w->mediaPort_, QString("42000"));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(p->callState, 3);
    QCOMPARE(w->callToTag, toTag);
    phone->sip->sendSipMsg("disconnect");
    QCOMPARE(header(exchange(QString()).value(0), "Call-ID"), QString("refresh"));
}

void TstProcessing::lateFinalAnswers_data()
{
    QTest::addColumn<bool>("established");
    QTest::addColumn<QString>("status");
    QTest::newRow("487 after CANCEL") << false << "487 Request Terminated";
    QTest::newRow("481 after BYE") << true << "481 Call/Transaction Does Not Exist";
}

// A failure that answers our own CANCEL or BYE is acknowledged, but it does
// not start the busy tone of a call the user already ended.
void TstProcessing::lateFinalAnswers()
{
    QFETCH(bool, established);
    QFETCH(QString, status);
    const QString invite = outgoingCall();
    exchange(responseTo(invite, "180 Ringing"));
    if (established)
        exchange(responseTo(invite, "200 OK", "calleetag", {"Contact: <sip:200@127.0.0.2:5099>"}, sdp));
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    phone->sip->sendSipMsg("disconnect");
    const QString request = exchange(QString()).value(0);
    QVERIFY(request.startsWith(established ? "BYE " : "CANCEL "));
    const QStringList sent = exchange(responseTo(established ? request : invite, status));
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].startsWith("ACK "));
    QCOMPARE(busy.size(), 0);
    QCOMPARE(p->callState, 4);
}

// A refused outgoing call is over: the next caller rings instead of hearing 486.
void TstProcessing::callerAfterRefusedCall()
{
    const QString invite = outgoingCall();
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    QVERIFY(exchange(responseTo(invite, "486 Busy Here")).value(0).startsWith("ACK "));
    QCOMPARE(busy.size(), 1);
    const QStringList sent = exchange(incomingInvite("after-refusal"));
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent[1].startsWith("SIP/2.0 180 Ringing\r\n"));
    QCOMPARE(shown.size(), 1);
}

// The callee answers as the user hangs up: the 200 is acknowledged and the
// call ended with a BYE, without starting the audio.
void TstProcessing::lateAnswerAfterCancel()
{
    const QString invite = outgoingCall();
    QSignalSpy audio(w, &MainWindow::audioStartSignal);
    phone->sip->sendSipMsg("disconnect");
    exchange(QString());
    const QStringList sent = exchange(responseTo(invite, "200 OK", "calleetag",
                                                 {"Contact: <sip:200@127.0.0.2:5099>"}, sdp));
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent[0].startsWith("ACK "));
    QVERIFY(sent[1].startsWith("BYE "));
    QCOMPARE(header(sent[1], "To"), header(invite, "To") + ";tag=calleetag");
    QCOMPARE(audio.size(), 0);
    QCOMPARE(p->callState, 4);
}

// Datagrams from any address but the server's are dropped unanswered.
void TstProcessing::onlyTheServerMaySpeak()
{
    QUdpSocket stranger;
    QVERIFY(stranger.bind(QHostAddress("127.0.0.3"), 0));
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    QSignalSpy busy(w, &MainWindow::busyStartSignal);
    stranger.writeDatagram(incomingInvite("stranger").toUtf8(), QHostAddress("127.0.0.1"), phone->port);
    QString bye = incomingInvite("stranger");
    bye.replace("INVITE", "BYE");
    stranger.writeDatagram(bye.toUtf8(), QHostAddress("127.0.0.1"), phone->port);
    // The stranger's datagrams were sent first; the barrier from the server
    // comes back only after the phone has read them.
    QCOMPARE(exchange(QString()).size(), 0);
    QCOMPARE(stranger.hasPendingDatagrams(), false);
    QCOMPARE(shown.size(), 0);
    QCOMPARE(busy.size(), 0);
    QCOMPARE(p->callState, 0);
}

// Datagrams are read as UTF-8, so callers named in Cyrillic or with accents ring.
void TstProcessing::utf8Caller()
{
    QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
    const QStringList sent = exchange(incomingInvite("utf8", "1", QString(),
                                                     QString::fromUtf8("\"Иван José\" <sip:200@127.0.0.2>;tag=iv")));
    QCOMPARE(sent.size(), 2);
    QCOMPARE(shown.size(), 1);
    QCOMPARE(p->fromName, QString::fromUtf8("Иван José"));
    QCOMPARE(header(sent[1], "From"), QString::fromUtf8("\"Иван José\" <sip:200@127.0.0.2>;tag=iv"));
}

// Datagrams are parsed up to a zero byte, handled in arrival order within one
// read, and the socket stays on the server port when STUN supplies another.
void TstProcessing::transport()
{
    QString first = incomingInvite("x");
    first = first.section("\r\n", 0, 0).replace("INVITE", "OPTIONS") + "\r\n"
            + first.section("\r\n", 1, 5).replace("INVITE", "OPTIONS") + "\r\nContent-Length: 0\r\n\r\n";
    QString second = first;
    second.replace("Call-ID: x", "Call-ID: y");
    phone->server->send(first + QString(QChar(0)) + "INVITE garbage");
    QStringList sent = exchange(second);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(header(sent[0], "Call-ID"), QString("x"));
    QCOMPARE(header(sent[1], "Call-ID"), QString("y"));

    w->useSTUN = true;
    w->stunPortS = "7777";
    phone->sip->initSession();
    QCOMPARE(phone->sip->sipPort, 7777);
    QCOMPARE(exchange(first).size(), 1);
}

SORVANTO_TEST_MAIN(TstProcessing)
#include "tst_processing.moc"
