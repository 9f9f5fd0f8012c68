#ifndef AGENTFIXTURE_H
#define AGENTFIXTURE_H

// A user agent for its tests: a Sip with its transport and no window, bound
// to a free port with account 100 on server 127.0.0.2, and a scripted SIP
// server on 127.0.0.2 at that port. The message builders also serve the
// robustness tests.

#include "accountsettings.h"

#include <QString>
#include <QStringList>

class NetworkEnvironment;
class Sip;
class SipTestServer;

class AgentFixture
{
public:
    AgentFixture();
    ~AgentFixture();
    AgentFixture(const AgentFixture &) = delete;
    AgentFixture &operator=(const AgentFixture &) = delete;

    // True when the phone is bound and the scripted server listens.
    bool ready() const { return m_ready; }

    // Builds a request or response text as a server would send it: lines
    // joined with CR LF, an empty line, then the body.
    static QString message(const QStringList &lines, const QString &body = QString());
    // A request from 200 through two proxies (two Vias, two Record-Routes); a
    // CANCEL has the branch of the INVITE it cancels.
    static QString request(const QString &method, const QString &callId, const QString &cseq = "1",
                           const QString &toTag = QString(), const QString &body = QString());
    // A response to `request` with its Via, From, To (tag "calleetag"), Call-ID and CSeq.
    static QString responseTo(const QString &request, const QString &status, const QStringList &extra = {},
                              const QString &body = QString());
    static QString header(const QString &text, const QString &name, int index = 0);
    static QString sdp(const QString &ip = QStringLiteral("127.0.0.9"), int port = 41000);
    // Sends `text` (if any), then an OPTIONS as a barrier, and returns what the
    // phone sent in between: processing is synchronous, so once the barrier's
    // answer is back the message has had all its effects.
    QStringList exchange(const QString &text);
    // Moves the phone to "TCP" or "TLS" (no certificate here: TCP) and the
    // server with it; true once the phone's connection has carried its REGISTER.
    bool useStream(const QString &transport);

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
