#include "agentfixture.h"

#include "networkenvironment.h"
#include "sip.h"
#include "siptestserver.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

AgentFixture::AgentFixture()
    : server(new SipTestServer()), port(SipTestServer::freePort())
{
    QStandardPaths::setTestModeEnabled(true);
    settings.user = settings.login = QStringLiteral("100");
    settings.password = QStringLiteral("pw100");
    settings.domain = settings.sipServerIp = QStringLiteral("127.0.0.2");
    settings.sipServerPort = QString::number(port);
    settings.mediaIp = QStringLiteral("127.0.0.1");
    settings.mediaPort = 40000;
    network = new NetworkEnvironment(settings);
    network->sipServerAddr = settings.sipServerIp;
    sip = new Sip(settings, *network);
    sip->initSession();
    m_ready = port != 0 && server->listen(QHostAddress(QStringLiteral("127.0.0.2")), port);
}

AgentFixture::~AgentFixture()
{
    delete server;
    delete sip;
    delete network;
}

bool AgentFixture::useStream(const QString &transport)
{
    settings.transport = transport;
    sip->initSession();
    if (!server->listenTcp(QHostAddress(QStringLiteral("127.0.0.2")), port))
        return false;
    const int before = server->received.size();
    sip->sendSipMsg(QStringLiteral("register"));
    return server->waitFor(before + 1) && server->last().startsWith(QLatin1String("REGISTER "));
}

QString AgentFixture::message(const QStringList &lines, const QString &body)
{
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n") + body;
}

QString AgentFixture::sdp(const QString &ip, int port)
{
    return QStringLiteral("v=0\r\no=- 1 1 IN IP4 %1\r\ns=-\r\nc=IN IP4 %1\r\nt=0 0\r\n"
                          "m=audio %2 RTP/AVP 8\r\na=rtpmap:8 PCMA/8000\r\n").arg(ip).arg(port);
}

QString AgentFixture::request(const QString &method, const QString &callId, const QString &cseq,
                              const QString &toTag, const QString &body)
{
    return message({method + " sip:100@127.0.0.1 SIP/2.0",
                    "Via: SIP/2.0/UDP 127.0.0.2:5099;rport;branch=z9hG4bK" + callId + cseq
                        + (method == "CANCEL" ? "INVITE" : method),
                    "Via: SIP/2.0/UDP 10.0.0.7:5060;branch=z9hG4bKcaller" + callId + cseq,
                    "Record-Route: <sip:127.0.0.2;lr>", "Record-Route: <sip:10.0.0.8;lr>",
                    "From: \"Bob\" <sip:200@127.0.0.2>;tag=callertag",
                    "To: <sip:100@127.0.0.2>" + (toTag.isEmpty() ? QString() : ";tag=" + toTag),
                    "Call-ID: " + callId, "CSeq: " + cseq + ' ' + method, "Contact: <sip:200@10.0.0.7:5060>",
                    "Content-Type: application/sdp", "Content-Length: " + QString::number(body.size())},
                   body);
}

QString AgentFixture::responseTo(const QString &request, const QString &status, const QStringList &extra,
                                 const QString &body)
{
    return message(QStringList{"SIP/2.0 " + status, "Via: " + header(request, "Via"), "From: " + header(request, "From"),
                               "To: " + header(request, "To") + ";tag=calleetag", "Call-ID: " + header(request, "Call-ID"),
                               "CSeq: " + header(request, "CSeq"), "Content-Type: application/sdp"}
                       + extra + QStringList{"Content-Length: " + QString::number(body.size())},
                   body);
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
    server->send(request("OPTIONS", id));
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
