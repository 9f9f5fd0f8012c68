#ifndef AGENTFIXTURE_H
#define AGENTFIXTURE_H

// A phone for user-agent tests: the real MainWindow (its own slots detached,
// so only the user agent acts), a Sip bound to a free port with account 100
// on server 127.0.0.2, and a scripted SIP server on 127.0.0.2 at that port.

#include <QString>
#include <QStringList>

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
    // A request from 200 through two proxies (two Vias, two Record-Routes).
    static QString request(const QString &method, const QString &callId, const QString &cseq = "1",
                           const QString &toTag = QString(), const QString &body = QString());
    // A response to `request` with its Via, From, To (and `toTag`), Call-ID and CSeq.
    static QString responseTo(const QString &request, const QString &status, const QString &toTag = "calleetag",
                              const QStringList &extra = {}, const QString &body = QString());
    static QString header(const QString &text, const QString &name, int index = 0);
    static QString sdp();
    // Sends `text` (if any), then an OPTIONS as a barrier, and returns what the
    // phone sent in between: processing is synchronous, so once the barrier's
    // answer is back the message has had all its effects.
    QStringList exchange(const QString &text);

    MainWindow *window = nullptr;
    Sip *sip = nullptr;
    SipParser *parser = nullptr;
    SipTestServer *server = nullptr;
    quint16 port = 0;

private:
    int m_barriers = 0;
    bool m_ownsWindow = false;
    bool m_ready = false;
};

#endif // AGENTFIXTURE_H
