#ifndef AGENTFIXTURE_H
#define AGENTFIXTURE_H

// A user agent for its tests: a Sip with its transport and no window, bound
// to a free port with account 100 on server 127.0.0.2, and a scripted SIP
// server on 127.0.0.2 at that port. The message builders also serve the
// robustness tests.

#include "accountsettings.h"
#include "networkenvironment.h"
#include "sip.h"
#include "siptestserver.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

class AgentFixture
{
public:
    AgentFixture() : server(new SipTestServer()), port(SipTestServer::freePort())
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
    ~AgentFixture()
    {
        delete server;
        delete sip;
        delete network;
    }
    AgentFixture(const AgentFixture &) = delete;
    AgentFixture &operator=(const AgentFixture &) = delete;

    // True when the phone is bound and the scripted server listens.
    bool ready() const { return m_ready; }

    // Builds a request or response text as a server would send it: lines
    // joined with CR LF, an empty line, then the body.
    static QString message(const QStringList &lines, const QString &body = QString())
    {
        return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n") + body;
    }
    // A request from 200 through two proxies (two Vias, two Record-Routes); a
    // CANCEL has the branch of the INVITE it cancels.
    static QString request(const QString &method, const QString &callId, const QString &cseq = "1",
                           const QString &toTag = QString(), const QString &body = QString())
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
    // A response to `request` with its Via, From, To (tag "calleetag" unless it has one), Call-ID and CSeq.
    static QString responseTo(const QString &request, const QString &status, const QStringList &extra = {},
                              const QString &body = QString())
    {
        const QString to = header(request, "To");
        return message(QStringList{"SIP/2.0 " + status, "Via: " + header(request, "Via"), "From: " + header(request, "From"),
                                   "To: " + to + (to.contains(";tag=") ? "" : ";tag=calleetag"), "Call-ID: " + header(request, "Call-ID"),
                                   "CSeq: " + header(request, "CSeq"), "Content-Type: application/sdp"}
                           + extra + QStringList{"Content-Length: " + QString::number(body.size())},
                       body);
    }
    static QString header(const QString &text, const QString &name, int index = 0)
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
    // An audio description with one format, "<payload type> <encoding>/<clock rate>[/<channels>]".
    static QString sdp(const QString &ip = QStringLiteral("127.0.0.9"), int port = 41000, const QString &format = "8 PCMA/8000")
    {
        return QStringLiteral("v=0\r\no=- 1 1 IN IP4 %1\r\ns=-\r\nc=IN IP4 %1\r\nt=0 0\r\n"
                              "m=audio %2 RTP/AVP %3\r\na=rtpmap:%4\r\n").arg(ip).arg(port).arg(format.section(' ', 0, 0), format);
    }
    // Sends `text` (if any), then an OPTIONS as a barrier, and returns what the
    // phone sent in between: processing is synchronous, so once the barrier's
    // answer is back the message has had all its effects.
    QStringList exchange(const QString &text)
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
    // Moves the phone to "TCP" or "TLS" (no certificate here: TCP) and the
    // server with it; true once the phone's connection has carried its REGISTER.
    bool useStream(const QString &transport)
    {
        settings.transport = transport;
        sip->initSession();
        if (!server->listenTcp(QHostAddress(QStringLiteral("127.0.0.2")), port))
            return false;
        const int before = server->received.size();
        sip->sendSipMsg(QStringLiteral("register"));
        return server->waitFor(before + 1) && server->last().startsWith(QLatin1String("REGISTER "));
    }

    AccountSettings settings;
    NetworkEnvironment *network = nullptr;
    Sip *sip = nullptr;
    SipTestServer *server = nullptr;
    quint16 port = 0;

private:
    int m_barriers = 0;
    bool m_ready = false;
};

#endif // AGENTFIXTURE_H
