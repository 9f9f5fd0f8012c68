#include "agentfixture.h"

#include "audio.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "siptestserver.h"
#include "siptransactions.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QTimer>

AgentFixture::AgentFixture(quint16 serverPort)
{
    QStandardPaths::setTestModeEnabled(true);
    if (pW) {
        window = pW;
    } else {
        window = new MainWindow();
        m_ownsWindow = true;
    }
    // Only the user agent should act: the window's own reactions (tones, call
    // windows, audio) are other subsystems' business and stay detached.
    QObject::disconnect(window, nullptr, window, nullptr);
    for (QTimer *timer : {window->registerTimer, window->busyTimer, window->talkTimer})
        if (timer)
            timer->stop();

    port = serverPort ? serverPort : SipTestServer::freePort();
    window->user = QStringLiteral("100");
    window->login = QStringLiteral("100");
    window->password = QStringLiteral("pw100");
    window->domain = QStringLiteral("127.0.0.2");
    window->sipServerIp = QStringLiteral("127.0.0.2");
    window->sipServerAddr = QStringLiteral("127.0.0.2");
    window->sipServerPort = QString::number(port);
    window->mediaIp = QStringLiteral("127.0.0.1");
    window->mediaPort = 40000;
    window->useSTUN = false;
    window->stunIpM.clear();
    window->registrTimeout = 3600;
    window->cseq = 1;

    if (window->audio && window->audio->sip) {
        sip = window->audio->sip;
    } else {
        sip = new Sip(window->audio);
        if (window->audio)
            window->audio->sip = sip;
    }
    parser = sip->parser;
    // Nothing of an earlier test may still be retransmitting.
    sip->transactions->clear();
    parser->callState = 0;
    parser->callDirection = 0;
    sip->initSession();

    server = new SipTestServer();
    m_ready = port != 0 && server->listen(QHostAddress(QStringLiteral("127.0.0.2")), port);
}

AgentFixture::~AgentFixture()
{
    sip->transactions->clear();
    delete server;
    if (m_ownsWindow) {
        delete window;
    }
}

QString AgentFixture::message(const QStringList &lines, const QString &body)
{
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n") + body;
}

QString AgentFixture::sdp()
{
    return QStringLiteral("v=0\r\no=- 1 1 IN IP4 127.0.0.9\r\ns=-\r\nc=IN IP4 127.0.0.9\r\nt=0 0\r\n"
                          "m=audio 41000 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n");
}

QString AgentFixture::request(const QString &method, const QString &callId, const QString &cseq,
                              const QString &toTag, const QString &body)
{
    return message({method + " sip:100@127.0.0.1 SIP/2.0",
                    "Via: SIP/2.0/UDP 127.0.0.2:5099;rport;branch=z9hG4bK" + callId + cseq + method,
                    "Via: SIP/2.0/UDP 10.0.0.7:5060;branch=z9hG4bKcaller" + callId + cseq,
                    "Record-Route: <sip:127.0.0.2;lr>", "Record-Route: <sip:10.0.0.8;lr>",
                    "From: \"Bob\" <sip:200@127.0.0.2>;tag=callertag",
                    "To: <sip:100@127.0.0.2>" + (toTag.isEmpty() ? QString() : ";tag=" + toTag),
                    "Call-ID: " + callId, "CSeq: " + cseq + ' ' + method, "Contact: <sip:200@10.0.0.7:5060>",
                    "Content-Type: application/sdp", "Content-Length: " + QString::number(body.size())},
                   body);
}

QString AgentFixture::responseTo(const QString &request, const QString &status, const QString &toTag,
                                 const QStringList &extra, const QString &body)
{
    QStringList lines{"SIP/2.0 " + status, "Via: " + header(request, "Via"), "From: " + header(request, "From"),
                      "To: " + header(request, "To") + (toTag.isEmpty() ? QString() : ";tag=" + toTag),
                      "Call-ID: " + header(request, "Call-ID"), "CSeq: " + header(request, "CSeq")};
    lines += extra;
    if (!body.isEmpty())
        lines << "Content-Type: application/sdp";
    lines << "Content-Length: " + QString::number(body.size());
    return message(lines, body);
}

QString AgentFixture::header(const QString &text, const QString &name, int index)
{
    const QRegularExpression re("(?:^|\r\n)" + QRegularExpression::escape(name) + ": ([^\r\n]*)");
    auto it = re.globalMatch(text);
    for (int i = 0; it.hasNext(); ++i) {
        const QString value = it.next().captured(1);
        if (i == index)
            return value;
    }
    return QString();
}

QStringList AgentFixture::exchange(const QString &text)
{
    const int mark = server->received.size();
    if (!text.isEmpty())
        server->send(text);
    const QString id = QString("barrier-%1").arg(++m_barriers);
    server->send(message({"OPTIONS sip:100@127.0.0.1 SIP/2.0", "Via: SIP/2.0/UDP 127.0.0.2;branch=z9hG4bK" + id,
                          "From: <sip:server@127.0.0.2>;tag=b", "To: <sip:100@127.0.0.2>", "Call-ID: " + id,
                          "CSeq: 1 OPTIONS", "Content-Length: 0"}));
    QStringList between;
    for (int seen = mark;; ++seen) {
        if (seen >= server->received.size() && !server->waitFor(seen + 1))
            return between;
        const QString datagram = QString::fromUtf8(server->received.at(seen));
        if (header(datagram, "Call-ID") == id)
            return between;
        between << datagram;
    }
}
