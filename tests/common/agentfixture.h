#ifndef AGENTFIXTURE_H
#define AGENTFIXTURE_H

// A phone for user-agent tests: the real MainWindow (its own slots detached,
// so only the user agent acts), a Sip bound to a free port with account 100
// on server 127.0.0.2, and a scripted SIP server on 127.0.0.2 at that port.

#include <QString>

class MainWindow;
class Sip;
class SipParser;
class SipTestServer;

class AgentFixture
{
public:
    // With serverPort 0 a free port is chosen.
    explicit AgentFixture(quint16 serverPort = 0);
    ~AgentFixture();
    AgentFixture(const AgentFixture &) = delete;
    AgentFixture &operator=(const AgentFixture &) = delete;

    // True when the phone is bound and the scripted server listens.
    bool ready() const { return m_ready; }

    // Builds a request or response text as a server would send it: lines
    // joined with CR LF, an empty line, then the body.
    static QString message(const QStringList &lines, const QString &body = QString());

    MainWindow *window = nullptr;
    Sip *sip = nullptr;
    SipParser *parser = nullptr;
    SipTestServer *server = nullptr;
    quint16 port = 0;

private:
    bool m_ownsWindow = false;
    bool m_ready = false;
};

#endif // AGENTFIXTURE_H
