// A scripted server drives the user agent through datagrams and reads what it sends: the status table,
// challenges, dialogs through two proxies, the transaction rules over UDP (retransmissions, timeouts, 481);
// over TCP, with every message split in two segments, requests are not repeated and still time out;
// requests within a call (hold, UPDATE, INFO, 488, 405), session timers, redirects; a call that cannot be
// encrypted as set, or is answered in a format never offered, refused or ended.
// Every builder's wire text byte for byte (tests/data/agent, random parts masked): REGISTER and INVITE with and
// without credentials, the port rule of request-URIs, CANCEL, both BYEs, 200 OK and 486; the SDP offer and
// answer in RFC 4566 order, the origin's version one up.

#include "agentfixture.h"
#include "fixturetable.h"
#include "networkenvironment.h"
#include "sessiontimer.h"
#include "sip.h"
#include "sipbuilder.h"
#include "sipdigest.h"
#include "siptestserver.h"
#include "sipparser.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "siptransactions.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <functional>
#include <memory>

class TstProcessing : public QObject
{
    Q_OBJECT

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

    // Gives the user agent a command and returns the one datagram it sends.
    QString command(const char *word)
    {
        d->called = "200";
        sip->sendSipMsg(word);
        return phone->exchange(QString()).value(0);
    }

    // A message in tests/data/agent, its lines ended with CR LF.
    static QString dataText(const QString &name)
    {
        return QString::fromUtf8(PeerProcess::read(QFINDTESTDATA("../data/agent/" + name + ".txt"))).replace('\n', "\r\n");
    }

private slots:
    void init()
    {
        // No retransmission interferes unless a test asks for one.
        SipTransactions::setTimers(600000, 600000);
        phone = new AgentFixture();
        QVERIFY(phone->ready());
        sip = phone->sip;
        d = &sip->dialog;
    }

    void cleanup()
    {
        delete phone;
        phone = nullptr;
    }

    void wireText_data()
    {
        QTest::addColumn<QString>("port");
        for (const char *row : {"register", "register-retry", "invite", "invite-retry", "answer", "busy", "bye-in"})
            QTest::newRow(row) << "5060";
        for (const char *row : {"invite-5070", "cancel", "bye-out"})
            QTest::newRow(row) << "5070";
    }
    void wireText()
    {
        const QString row = QTest::currentDataTag();
        AccountSettings &s = phone->settings;
        SipBuilder *p = sip->builder;
        s.domain = s.sipServerIp = "10.0.0.5";
        s.mediaIp = "192.168.1.10";
        QFETCH(QString, port);
        s.sipServerPort = port;
        d->called = "200";
        d->cseq = 7;
        phone->network->stunIpM = row == "invite" ? "203.0.113.7" : "";
        // The answers' INVITE, from 200 through two proxies.
        const bool answer = row == "answer" || row == "busy" || row == "bye-in";
        if (answer)
            sip->parser->parse(dataText("invite-in"), "10.0.0.5", port);
        // The call's SDP origin so far: the next description goes one version up.
        d->sdpOrigin = {"-", 482913765, 482913770, "192.168.1.10"};
        std::unique_ptr<SipPacket> msg(answer ? nullptr : row.startsWith("register") ? p->registration("100") : p->invite("100", "200"));
        const QString credentials = "Digest username=\"100\"";
        const QHash<QString, std::function<SipPacket *()>> build{
            {"register-retry", [&] { return p->registration("100", credentials); }},
            {"invite-retry", [&] { return p->invite("100", "200", credentials, 2); }},
            {"answer", [&] { return p->answer200Ok(); }}, {"busy", [&] { return p->busyIn(); }},
            {"bye-in", [&] { return p->disconnectIn(); }}, {"cancel", [&] { return p->busyOut(); }},
            {"bye-out", [&] { return p->disconnectOut(); }}};
        if (build.contains(row))
            msg.reset(build[row]());
        QVERIFY(msg);
        QString text = msg->toString();
        text.replace(QRegularExpression("branch=z9hG4bK[0-9A-Za-z]{34}(?![0-9A-Za-z])"), "branch=z9hG4bK{branch}");
        text.replace(QRegularExpression("tag=[0-9A-Za-z]{8}(?![0-9A-Za-z])"), "tag={tag}");
        text.replace(QRegularExpression("Call-ID: [0-9A-Za-z]{32}\r\n"), "Call-ID: {callid}\r\n");
        text.replace("m=audio " + phone->network->getRTPPort() + ' ', "m=audio {port} ");
        QCOMPARE(text, dataText(row));
    }

    void statusTable_data() { fixtureRows("agent/status.txt"); }

    // Each answer to the phone's own request: ACK for every final answer of 300 and above to an INVITE (and the
    // 2xx), the cause shown, and nothing for an answer that matches no transaction or refuses a REGISTER; a
    // registration's refresh follows the expiry granted (keep-alives: tests/e2e). The ACK is compared whole, the
    // INVITE's own values named; the BYE that ends an answered call takes the ACK's target and route set.
    void statusTable()
    {
        QFETCH(QString, ack);
        phone->settings.encryptMedia = cell("encrypt");
        const QString request = command(cell("command").toLatin1());
        QSignalSpy busySpy(sip, &Sip::callEnded), rx183(sip, &Sip::sessionProgress), audio(sip, &Sip::callAnswered);
        QString response = AgentFixture::responseTo(request, cell("status"), cell("extra").split("\r\n", Qt::SkipEmptyParts), cell("sdp"));
        if (QTest::currentDataTag() == QLatin1String("stray 200"))
            response.replace(QRegularExpression("branch=z9hG4bK\\w+"), "branch=z9hG4bKstray");
        const QStringList out = phone->exchange(response);
        QString sent = out.join("|");
        for (const char *name : {"Via", "From", "To", "Call-ID"})
            sent.replace(header(request, name), QString("{%1}").arg(name));
        QCOMPARE(sent.replace(QRegularExpression("branch=z9hG4bK\\w+"), "branch={new}").replace(QString::number(phone->port), "{port}"), ack);
        const auto after = [&] { // the call, its signals and the registration's refresh, then the cause shown
            return QString("%1 up=%2 early=%3 registered=%4 media=%5 refresh=%6 ends=%7 %8").arg(callStateName(sip->callState()))
                .arg(audio.size()).arg(!rx183.isEmpty()).arg(sip->registered).arg(d->mediaPort_).arg(sip->refreshSeconds())
                .arg(busySpy.size()).arg(ended(busySpy)).trimmed();
        };
        QTEST(after(), "after");
        // A final answer again is acknowledged again, and changes nothing more.
        QCOMPARE(phone->exchange(response).value(0).left(4), ack.left(4));
        QTEST(after(), "after");
        if (audio.isEmpty())
            return;
        const QString bye = command("disconnect");
        QCOMPARE(bye.section("\r\n", 0, 0).mid(4) + header(bye, "Route") + header(bye, "Route", 1),
                 out[0].section("\r\n", 0, 0).mid(4) + header(out[0], "Route") + header(out[0], "Route", 1));
    }

    void challenges_data()
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
    void challenges()
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
        // The Request-URI names the domain; the request still reached the server.
        QVERIFY(header(request, "From").startsWith("<sip:100@example.test"));
        QCOMPARE(request.section("\r\n", 0, 0), command == "invite" ? "INVITE sip:200@example.test SIP/2.0"
                                                                     : "REGISTER sip:example.test SIP/2.0");
        QSignalSpy busy(sip, &Sip::callEnded);
        const QString value = "Digest realm=\"r\", nonce=\"abc\"" + (qop.isEmpty() ? "" : ", qop=\"" + qop + "\"");
        const bool invite = command == "invite";
        for (int round = 1; round <= 3; ++round) {
            const QStringList out = phone->exchange(AgentFixture::responseTo(request, status, {challenge + ": " + value}));
            QCOMPARE(out.size(), int(invite) + int(round < 3));
            if (invite) // the refusal's ACK: the challenged INVITE's Via and CSeq number
                QCOMPARE(header(out[0], "Via") + header(out[0], "CSeq"),
                         header(request, "Via") + header(request, "CSeq").replace("INVITE", "ACK"));
            if (round == 3)
                break;
            const QString retry = out.last();
            QVERIFY(header(retry, "Via") != header(request, "Via"));
            QCOMPARE(header(retry, "Call-ID") + header(retry, "From") + header(retry, "CSeq"), header(request, "Call-ID")
                         + header(request, "From") + QString::number(header(request, "CSeq").section(' ', 0, 0).toInt() + 1) + ' ' + command.toUpper());
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
        QCOMPARE(busy.size(), int(invite));
    }

    // An incoming call through two proxies (each answer's Vias and Record-Routes: wireText); repeats of the
    // INVITE and the BYE get the answers already sent (a re-INVITE: midCall; one that moves the media:
    // tst_robustness rtpDuringCall); what matches no call gets 481 and ends nothing: the window hears of an end
    // only through callEnded and callHungUp (its tone, its history row).
    void incomingCall()
    {
        QSignalSpy shown(sip, &Sip::incomingCall), busy(sip, &Sip::callEnded), hungUp(sip, &Sip::callHungUp);
        // A caller who gives up while we ring: 200 for the CANCEL, 487 for the INVITE.
        phone->exchange(invite("gone", "1"));
        QStringList out = phone->exchange(invite("gone", "1", QString(), "CANCEL"));
        QVERIFY(out.value(0).startsWith("SIP/2.0 200 OK\r\n") && out.value(1).startsWith("SIP/2.0 487 Request Terminated"));
        out = phone->exchange(invite("in", "5"));
        QCOMPARE(header(out.value(1), "Via"), QString("SIP/2.0/UDP 127.0.0.2:5099;rport=%1;branch=z9hG4bKin5INVITE;"
                                                      "received=127.0.0.2").arg(phone->port));
        QCOMPARE(phone->exchange(invite("other", "1")).value(0).section("\r\n", 0, 0), "SIP/2.0 486 Busy Here");
        const QString ok = command("answer");
        QCOMPARE(phone->exchange(invite("in", "5")), QStringList{ok});
        phone->exchange(invite("in", "5", d->callToTag, "ACK"));
        const QString bye = invite("in", "7", d->callToTag, "BYE");
        const QStringList byeOk = phone->exchange(bye);
        QVERIFY(byeOk.value(0).startsWith("SIP/2.0 200 OK\r\n"));
        QCOMPARE(phone->exchange(bye), byeOk);
        // A BYE of its own (new branch) for the call that ended finds no call, and ends nothing again.
        QCOMPARE(phone->exchange(invite("in", "9", d->callToTag, "BYE")).value(0).left(11), "SIP/2.0 481");
        QCOMPARE(phone->exchange(invite("in", "8", d->callToTag, "CANCEL")).value(0).left(11), "SIP/2.0 481");
        QCOMPARE(shown.size(), 2);
        QCOMPARE(busy.size() + hungUp.size(), 2);
        QCOMPARE(ended(busy, 0) + ", " + ended(busy, 1), QString("cancel, bye"));
    }

    void loss_data() { fixtureRows("agent/loss.txt"); }

    // A datagram that gets no answer goes out again, until it is answered; what
    // never gets one ends as a failure: the INVITE as unanswered, the
    // unacknowledged 200 with a BYE.
    void loss()
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
            phone->exchange(AgentFixture::responseTo(setup, "200 OK", {}, sdp));
        if (command == "answer" || command == "disconnect")
            phone->exchange(invite("lossy", "1"));
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
        if (!repeated.isEmpty() && (command == "bye" || command == "register")) { // answered, it goes out no more
            phone->exchange(AgentFixture::responseTo(first, "200 OK"));
            const int answered = phone->server->received.size();
            QTest::qWait(400);
            QCOMPARE(phone->server->texts().mid(answered).filter(QRegularExpression("^" + repeated)).size(), 0);
        }
        if (busy == "408")
            QCOMPARE(registered.last(), QVariantList({false, 408}));
        QTRY_COMPARE_WITH_TIMEOUT(ended(busySpy), busy == "408" ? "" : busy, 10000);
        if (command == "answer")
            QTRY_VERIFY(!phone->server->texts().filter(QRegularExpression("^BYE ")).isEmpty());
        QCOMPARE(callStateName(sip->callState()), command == "register" ? "idle" : "ended");
    }

    void inviteTimeout_data()
    {
        QTest::addColumn<QString>("provisional");
        QTest::newRow("rings past the timeout, then answered") << "180 Ringing";
        QTest::newRow("never answered") << "";
    }

    // An unanswered INVITE goes out at 0, T1, 3T1, 7T1... (its interval never
    // stops at T2) and ends the call with 408 after 64*T1; a provisional answer
    // stops both, so a call may ring as long as the callee lets it (RFC 3261 17.1.1.2).
    void inviteTimeout()
    {
        QFETCH(QString, provisional);
        const int t1 = 50;
        SipTransactions::setTimers(t1, 4 * t1);
        QSignalSpy busy(sip, &Sip::callEnded);
        QElapsedTimer clock;
        clock.start();
        const QString request = command("invite");
        if (!provisional.isEmpty())
            phone->exchange(AgentFixture::responseTo(request, provisional));
        const int mark = phone->server->received.size();
        QCOMPARE(busy.wait(64 * t1 * 8 / 5), provisional.isEmpty());
        const int copies = phone->server->texts().mid(provisional.isEmpty() ? 0 : mark).filter(QRegularExpression("^INVITE ")).size();
        if (!provisional.isEmpty()) {
            QCOMPARE(copies, 0);
            QCOMPARE(phone->exchange(AgentFixture::responseTo(request, "200 OK", {}, sdp)).value(0).left(4), "ACK ");
            QCOMPARE(callStateName(sip->callState()), "established");
            return;
        }
        QVERIFY2(clock.elapsed() >= 64 * t1 * 9 / 10 && copies >= 6 && copies <= 7,
                 qPrintable(QString("%1 ms, %2 copies").arg(clock.elapsed()).arg(copies)));
        QCOMPARE(ended(busy) + ' ' + busy.at(0).value(1).toString(), "no answer 408");
    }

    void midCall_data() { fixtureRows("agent/midcall.txt"); }

    // A request in an answered call gets its answer, carrying our headers and none of the request's; a hold
    // stops our sending until an offer restores sendrecv, and each new description is one version up.
    void midCall()
    {
        QFETCH(QString, method);
        QFETCH(QString, extra);
        QSignalSpy keys(sip, &Sip::dtmfReceived);
        phone->settings.encryptMedia = cell("encrypt");
        const bool fresh = method == "NEW";
        QString ok;
        if (!fresh) {
            phone->exchange(invite("in", "5"));
            ok = command("answer");
            phone->exchange(invite("in", "5", d->callToTag, "ACK"));
        }
        QString request = AgentFixture::request(fresh ? "INVITE" : method, fresh ? "new" : "in", "6",
                                                fresh ? QString() : d->callToTag, cell("body"));
        request.replace("Content-Type: application/sdp", (extra.isEmpty() ? "" : extra + "\r\n") + "Content-Type: " + cell("type"));
        const QString reply = phone->exchange(request).value(0);
        QVERIFY2(reply.startsWith(cell("status")), qPrintable(reply));
        for (const QString &text : cell("present").split(" && ", Qt::SkipEmptyParts))
            QVERIFY2(reply.contains(text), qPrintable(text + " missing in\n" + reply));
        for (const QString &text : cell("absent").split(" && ", Qt::SkipEmptyParts))
            QVERIFY2(!reply.contains(text), qPrintable(text + " echoed in\n" + reply));
        QString got;
        for (const QVariantList &key : keys)
            got += key.value(0).toChar();
        QTEST(QString("%1 held=%2 send=%3 keys=%4").arg(callStateName(sip->callState())).arg(d->heldByPeer)
                  .arg(d->media.send).arg(got), "state");
        const QRegularExpression origin("\r\no=- (\\d+) (\\d+) ");
        const QRegularExpressionMatch before = origin.match(ok), after = origin.match(reply);
        if (after.hasMatch()) // the same session, one version up
            QCOMPARE(after.captured(1) + ' ' + after.captured(2), before.captured(1) + ' ' + QString::number(before.captured(2).toULongLong() + 1));
        if (d->heldByPeer) {
            phone->exchange(AgentFixture::request("INVITE", "in", "7", d->callToTag, sdp));
            QVERIFY(!d->heldByPeer && d->media.send);
        }
    }

    void sessionTimer_data() { fixtureRows("agent/sessiontimer.txt"); }

    // A 90 s session (a second lasting 20 ms here): the 200 states it, the refresher refreshes at half the
    // interval (a new offer naming the call's codec first) and, answered, the session goes on to the next
    // refresh; one nobody refreshes, or whose refresh gets no answer, ends with a BYE.
    void sessionTimer()
    {
        QFETCH(QString, refresh);
        const bool disabled = cell("off") == "1", expires = cell("ends") == "1";
        sip->sessionTimer->setSecondMs(20);
        phone->settings.disableSessionTimer = disabled;
        QSignalSpy busy(sip, &Sip::callEnded);
        if (cell("side") == "in") {
            phone->exchange(invite("st", "1").replace("Content-Type:", cell("headers") + "\r\nContent-Type:"));
            const QString ok = command("answer");
            phone->exchange(invite("st", "1", d->callToTag, "ACK"));
            QTEST(header(ok, "Session-Expires") + '|' + header(ok, "Require"), "stated");
            QCOMPARE(ok.contains("Supported: timer"), !disabled);
        } else {   // answered with PCMU, second in our offer
            phone->exchange(AgentFixture::responseTo(command("invite"), "200 OK", cell("headers").split("\r\n"),
                                                     AgentFixture::sdp("127.0.0.9", 41000, "0 PCMU/8000")));
        }
        const int mark = phone->server->received.size();
        if (!refresh.isEmpty()) {
            QVERIFY(phone->server->waitFor(mark + 1, 10000));
            const QString sent = QString::fromUtf8(phone->server->received.at(mark));
            QCOMPARE(sent.section(' ', 0, 0) + ' ' + header(sent, "Session-Expires"), refresh + " 90;refresher=uac");
            // A refresh that offers anew names the call's codec first, so that the call keeps it.
            if (refresh == "INVITE" && cell("side") == "out")
                QVERIFY2(sent.contains(QRegularExpression("\r\nm=audio \\d+ RTP/AVP 0 8 ")), qPrintable(sent));
            const QString answer = AgentFixture::responseTo(sent, "200 OK", {"Session-Expires: 90;refresher=uac"},
                                                            refresh == "INVITE" ? sdp : QString());
            // A refresh answered starts the session afresh: the next one comes, never the end.
            if (!expires)
                QCOMPARE(phone->exchange(answer).value(0).left(4), refresh == "INVITE" ? "ACK " : "");
            QTRY_VERIFY_WITH_TIMEOUT(expires || phone->server->texts().mid(mark).filter(QRegularExpression("^" + refresh)).size() == 2, 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(ended(busy), expires ? "session expired" : "", 10000);
        QTRY_COMPARE(phone->server->texts().filter(QRegularExpression("^BYE ")).size(), int(expires));
        QCOMPARE(sip->sessionTimer->active(), !disabled && !expires);
    }

    // A 302 is followed once, to its first Contact, as a new call; the next 302 ends the call.
    void redirect()
    {
        QSignalSpy moved(sip, &Sip::redirected), busy(sip, &Sip::callEnded);
        const QString first = command("invite");
        QStringList out = phone->exchange(AgentFixture::responseTo(first, "302 Moved Temporarily",
                                                            {"Contact: <sip:300@127.0.0.2:5099>, <sip:400@127.0.0.2>"}));
        QCOMPARE(out.size(), 2);
        QCOMPARE(out[0].left(4) + out[1].section("\r\n", 0, 0), "ACK INVITE sip:300@127.0.0.2:5099 SIP/2.0");
        for (const char *name : {"Via", "From", "Call-ID"})
            QVERIFY(header(out[1], name) != header(first, name));
        QCOMPARE(moved.value(0).value(0).toString(), "300");
        out = phone->exchange(AgentFixture::responseTo(out[1], "302 Moved Temporarily", {"Contact: <sip:500@127.0.0.2>"}));
        QCOMPARE(out.size(), 1);
        QCOMPARE(ended(busy), "302 Moved Temporarily");
        QCOMPARE(moved.size(), 1);
    }
};

SORVANTO_TEST_MAIN(TstProcessing)
#include "tst_processing.moc"
