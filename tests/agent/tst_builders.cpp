// Requests and call responses come out byte-exact: REGISTER text, identifier reuse, the request-URI
// port rule, the CANCEL branch, the SDP offer and answer, and the incoming-call BYE.

#include "agentfixture.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "siptestserver.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QtTest>

#include <memory>

class TstBuilders : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void registerText();
    void registrationIdentifiers();
    void requestUriPortRule_data();
    void requestUriPortRule();
    void inviteOfferAndAnswer();
    void incomingCallRepliesAndBye();

private:
    static QString masked(QString text);
    static QString header(const QString &text, const QString &name);
    void receiveInvite();

    AgentFixture *phone = nullptr;
    MainWindow *w = nullptr;
    SipParser *p = nullptr;
};

void TstBuilders::init()
{
    phone = new AgentFixture();
    QVERIFY(phone->ready());
    w = phone->window;
    p = phone->parser;
}

void TstBuilders::cleanup()
{
    delete phone;
    phone = nullptr;
}

QString TstBuilders::masked(QString text)
{
    text.replace(QRegularExpression("branch=z9hG4bK[0-9A-Za-z]{34}(?![0-9A-Za-z])"), "branch=z9hG4bK{branch}");
    text.replace(QRegularExpression("tag=[0-9A-Za-z]{8}(?![0-9A-Za-z])"), "tag={tag}");
    text.replace(QRegularExpression("Call-ID: [0-9A-Za-z]{32}\r\n"), "Call-ID: {callid}\r\n");
    return text;
}

QString TstBuilders::header(const QString &text, const QString &name)
{
    const QRegularExpression re("(?:^|\r\n)" + QRegularExpression::escape(name) + ": ([^\r\n]*)");
    return re.match(text).captured(1);
}

void TstBuilders::registerText()
{
    w->domain = w->sipServerIp = "10.0.0.5";
    w->sipServerPort = "5060";
    w->mediaIp = "192.168.1.10";
    std::unique_ptr<SipRequest> reg(p->registration("100"));
    QCOMPARE(masked(reg->toString()),
             QString("REGISTER sip:100@10.0.0.5:5060 SIP/2.0\r\n"
                     "Via: SIP/2.0/UDP 192.168.1.10;rport;branch=z9hG4bK{branch}\r\n"
                     "From: <sip:100@10.0.0.5>;tag={tag}\r\n"
                     "To: <sip:100@10.0.0.5>\r\n"
                     "Call-ID: {callid}\r\n"
                     "Contact: <sip:100@192.168.1.10;transport=udp>\r\n"
                     "CSeq: 1 REGISTER\r\n"
                     "Max-Forwards: 70\r\n"
                     "Expires: 3600\r\n"
                     "User-Agent: Sorvanto\r\n"
                     "Allow: ACK, BYE, CANCEL, INFO, INVITE, OPTIONS, REFER, REGISTER, UPDATE\r\n"
                     "Content-Length: 0\r\n"
                     "\r\n"));
    QVERIFY(!phone->sip->registered);
}

// Each REGISTER starts new identifiers; the authorised retry reuses them.
void TstBuilders::registrationIdentifiers()
{
    phone->sip->registered = true;
    std::unique_ptr<SipRequest> first(p->registration("100"));
    const QString firstText = first->toString();
    const QString branch = w->regBranch, fromTag = w->regFromTag, callId = w->regCallId;
    std::unique_ptr<SipRequest> retry(p->registration("100", "Digest username=\"100\"\r\n"));
    const QString retryText = retry->toString();
    std::unique_ptr<SipRequest> second(p->registration("100"));
    const QString secondText = second->toString();

    for (const char *name : {"Via", "From", "To", "Call-ID", "CSeq", "Contact"})
        QCOMPARE(header(retryText, name), header(firstText, name));
    QCOMPARE(header(retryText, "Authorization"), QString("Digest username=\"100\""));
    QVERIFY(!phone->sip->registered);

    QVERIFY(w->regBranch != branch && w->regFromTag != fromTag && w->regCallId != callId);
    QCOMPARE(w->regBranch.size(), 41);
    QVERIFY(w->regBranch.startsWith("z9hG4bK"));
    QCOMPARE(w->regFromTag.size(), 8);
    QCOMPARE(w->regCallId.size(), 32);
    QCOMPARE(header(secondText, "CSeq"), QString("1 REGISTER"));
    const QRegularExpression alphabet("^[qwertyuiopasdfghjklzxcvbnm1234567890QWERTYUIOPASDFHJKLZXCVBNM]+$");
    QVERIFY(alphabet.match(w->regFromTag + w->regCallId + w->regBranch.mid(7)).hasMatch());
}

void TstBuilders::requestUriPortRule_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("inviteUri");
    QTest::addColumn<QString>("dialogUri");
    QTest::newRow("5060") << "5060" << "sip:200@10.0.0.5" << "sip:200@10.0.0.5:5060";
    QTest::newRow("5070") << "5070" << "sip:200@10.0.0.5:5070" << "sip:200@10.0.0.5:5070";
}

// INVITE leaves out port 5060; CANCEL and BYE always write it. The CANCEL
// keeps the INVITE's branch and CSeq number, the BYE takes a new branch and
// the next number.
void TstBuilders::requestUriPortRule()
{
    QFETCH(QString, port);
    QFETCH(QString, inviteUri);
    QFETCH(QString, dialogUri);
    w->sipServerIp = "10.0.0.5";
    w->sipServerPort = port;
    w->called = "200";
    w->cseq = 7;

    std::unique_ptr<SipRequest> invite(p->invite("100", "200"));
    const QString inviteText = invite->toString();
    QCOMPARE(inviteText.section("\r\n", 0, 0), "INVITE " + inviteUri + " SIP/2.0");
    QCOMPARE(p->callState, 1);
    QCOMPARE(p->callDirection, 2);

    std::unique_ptr<SipRequest> cancel(p->busyOut());
    const QString cancelText = cancel->toString();
    QCOMPARE(cancelText.section("\r\n", 0, 0), "CANCEL " + dialogUri + " SIP/2.0");
    QCOMPARE(header(cancelText, "Via"), header(inviteText, "Via"));
    QCOMPARE(header(cancelText, "CSeq"), QString("7 CANCEL"));
    QCOMPARE(p->callState, 4);

    std::unique_ptr<SipRequest> bye(p->disconnectOut());
    const QString byeText = bye->toString();
    QCOMPARE(byeText.section("\r\n", 0, 0), "BYE " + dialogUri + " SIP/2.0");
    QVERIFY(header(byeText, "Via") != header(inviteText, "Via"));
    QCOMPARE(header(byeText, "CSeq"), QString("8 BYE"));
    QCOMPARE(header(byeText, "Call-ID"), header(inviteText, "Call-ID"));
}

void TstBuilders::inviteOfferAndAnswer()
{
    w->mediaIp = "192.168.0.10";
    w->mediaPort = 60000;
    w->sipServerPort = "5060";
    std::unique_ptr<SipRequest> invite(p->invite("100", "200"));
    QString text = invite->toString();
    const QString body = text.section("\r\n\r\n", 1);
    QCOMPARE(body, QString("v=0\r\no=- 3873887852 3873887852 IN IP4 192.168.0.10\r\nc=IN IP4 192.168.0.10\r\n"
                           "m=audio %1 RTP/AVP 8\r\na=sendrecv\r\na=rtpmap:8 PCMA/8000\r\na=ptime:20\r\n")
                       .arg(w->getRTPPort()));
    QCOMPARE(header(text, "Content-Length").toInt(), body.toUtf8().size());
    QCOMPARE(header(text, "Content-Type"), QString("application/sdp"));

    // A public media address adds a second connection line after the media line.
    w->stunIpM = "203.0.113.7";
    invite.reset(p->invite("100", "200"));
    text = invite->toString();
    QVERIFY(text.contains("\r\nm=audio " + w->getRTPPort() + " RTP/AVP 8\r\nc=IN IP4 203.0.113.7\r\na=sendrecv\r\n"));
    QCOMPARE(header(text, "Content-Length").toInt(), text.section("\r\n\r\n", 1).toUtf8().size());

    p->callState = 4;
    w->sipServerPort = QString::number(phone->port);
    receiveInvite();
    std::unique_ptr<SipPacket> answer(p->answer200Ok());
    QVERIFY(answer);
    text = answer->toString();
    QVERIFY(text.startsWith("SIP/2.0 200 OK\r\n"));
    QVERIFY(text.contains("\r\n\r\nv=0\r\nt=0 0\r\no=- 3873887852"));
    QVERIFY(text.contains("\r\nc=IN IP4 192.168.0.10\r\nm=audio " + w->getRTPPort()
                          + " RTP/AVP 8\r\nc=IN IP4 203.0.113.7\r\n"));
    QCOMPARE(header(text, "Content-Length").toInt(), text.section("\r\n\r\n", 1).toUtf8().size());
    QCOMPARE(header(text, "To"), "<sip:100@127.0.0.2>;tag=" + w->callToTag);
    QCOMPARE(header(text, "CSeq"), QString("5 INVITE"));
    QCOMPARE(p->callState, 3);
}

// Delivers an INVITE from 200 to 100 through the real receive path.
void TstBuilders::receiveInvite()
{
    phone->server->send(AgentFixture::message(
        {"INVITE sip:100@127.0.0.1 SIP/2.0",
         "Via: SIP/2.0/UDP 127.0.0.2:" + QString::number(phone->port) + ";branch=z9hG4bKcaller1;rport",
         "From: \"Bob\" <sip:200@127.0.0.2:5062>;tag=callertag", "To: <sip:100@127.0.0.2>",
         "Call-ID: incoming-call-1", "CSeq: 5 INVITE", "Contact: <sip:200@127.0.0.2:5062>",
         "Content-Type: application/sdp", "Content-Length: 10"},
        "v=0\r\nc=IN IP4 127.0.0.9\r\nm=audio 41000 RTP/AVP 8\r\n"));
    QVERIFY(phone->server->waitFor(2));
}

// 100 carries no To tag, 180 a new one that the 200 OK repeats; the BYE of
// the incoming call swaps the INVITE's From and To, the caller's tag in To.
void TstBuilders::incomingCallRepliesAndBye()
{
    receiveInvite();
    const QStringList replies = phone->server->texts();
    QVERIFY(replies[0].startsWith("SIP/2.0 100 Trying\r\n"));
    QCOMPARE(header(replies[0], "To"), QString("<sip:100@127.0.0.2>"));
    QVERIFY(replies[1].startsWith("SIP/2.0 180 Ringing\r\n"));
    QCOMPARE(header(replies[1], "To"), "<sip:100@127.0.0.2>;tag=" + w->callToTag);
    QCOMPARE(w->callToTag.size(), 8);
    QCOMPARE(w->called, QString("200"));
    QCOMPARE(w->mediaIp_, QString("127.0.0.9"));
    QCOMPARE(w->mediaPort_, QString("41000"));

    std::unique_ptr<SipPacket> ok(p->answer200Ok());
    QCOMPARE(header(ok->toString(), "To"), "<sip:100@127.0.0.2>;tag=" + w->callToTag);
    std::unique_ptr<SipRequest> bye(p->disconnectIn());
    const QString text = bye->toString();
    QCOMPARE(text.section("\r\n", 0, 0), "BYE sip:200@127.0.0.2:" + QString::number(phone->port) + " SIP/2.0");
    QCOMPARE(header(text, "From"), "<sip:100@127.0.0.2>;tag=" + w->callToTag);
    QCOMPARE(header(text, "To"), QString("<sip:200@127.0.0.2:5062>;tag=callertag"));
    QCOMPARE(header(text, "Call-ID"), QString("incoming-call-1"));
    QCOMPARE(header(text, "CSeq"), QString("6 BYE"));
}

SORVANTO_TEST_MAIN(TstBuilders)
#include "tst_builders.moc"
