#ifndef SIPBUILDER_H
#define SIPBUILDER_H

// The requests and responses the user agent sends: each builder returns a new
// message, owned by the caller, from the account settings, the network
// environment and the dialog state. Builders never send and never change the
// call's state; the ones that open a transaction take fresh identifiers into
// the dialog.

#include <QString>
#include <QStringList>

#include <initializer_list>

struct AccountSettings;
class NetworkEnvironment;
class SipDialog;
class SipHeader;
class SipMessageParser;
class SipPacket;
class SipRequest;
class SipResponse;
class SipTransport;

class SipBuilder
{
public:
    SipBuilder(SipMessageParser *parser, const AccountSettings &settings, const NetworkEnvironment &network,
               SipDialog &dialog);

    // How a reply copied from a request gets its To tag.
    enum class ToTagRule { Store, Fresh, Current };

    SipRequest *registration(const QString &user);
    SipRequest *registration(const QString &user, const QString &authorization);
    SipRequest *invite(const QString &user, const QString &number);
    // `kind` 1 answers a 401 (Authorization), 2 a 407 (Proxy-Authorization).
    SipRequest *invite(const QString &user, const QString &number, const QString &authorization, int kind);
    // The 200 OK to the stored INVITE with the answer to its offer (or our
    // offer when it had none); `repeat` sends the same description again.
    SipResponse *answer200Ok(bool repeat = false);
    SipResponse *busyIn();
    SipRequest *busyOut();
    SipRequest *disconnectIn();
    SipRequest *disconnectOut();
    // A request in the call's dialog; `offer` adds our SDP offer.
    SipRequest *inDialog(const QString &method, bool offer, const QStringList &extra = {});
    // Require and Session-Expires of a 2xx that runs a session timer.
    QStringList timerLines() const;
    bool ownDomain() const;
    // A response to a received request; `extra` lines ("Name: value") go
    // before its Content-Length.
    SipResponse *reply(const QString &code, const QString &reason, SipPacket *request, ToTagRule rule,
                       const QStringList &extra = {});
    void attachAnswer(SipPacket *msg);
    QString contactValue() const;
    QString supportedList() const;
    void addCapabilities(SipPacket *msg) const;
    static void addLines(SipPacket *msg, const QStringList &lines);
    // An ACK or CANCEL copied from a received response.
    SipRequest *responseRequest(const QString &method, SipPacket *response);

    static QString tag();
    static QString branch();
    static QString newCallId();
    static QString cnonce();

    // Digest URI of a challenge: its uri (or domain), else the account's domain.
    QString digestUri(const QString &uriAuth) const;
    // The Authorization value for a challenge (RFC 2617).
    QString digestAuthorization(const QString &method, const QString &realm, const QString &nonce,
                                const QString &uri, const QString &qop, const QString &opaque) const;

    // Writes a line to the log when logging is on.
    static void log(const QString &text);
    // The first header of that name when the factory made it of that type.
    template <class T> static T *typed(SipPacket *msg, const char *name, int type)
    {
        return static_cast<T *>(typedHeader(msg, name, type));
    }
    static SipHeader *typedHeader(SipPacket *msg, const char *name, int type);

    // The user agent's transport, which Via and Contact name; none is UDP.
    const SipTransport *transport = nullptr;

private:
    // One side of a dialog as From, To and Contact write it (Via: host, port
    // and branch in tag).
    struct Party {
        QString user, host, port, tag;
        bool present = false;
    };
    // The headers that name a message's dialog and transaction.
    struct Headers {
        Party via, from, to, contact;
        SipPacket *viaSource = nullptr; // an answer copies this request's Via list
        QString callId, cseq, method;
        bool hasCallId = false;
        bool hasCseq = false;
    };
    enum class Field { Via, MaxForwards, From, To, CallId, CSeq, Contact };
    Headers ours(const QString &user, const QString &peer, const QString &branchValue, const QString &fromTag,
                 const QString &toTag, const QString &callId, int cseq, const QString &method) const;
    Headers invited() const;
    // Adds the dialog's headers in the order given.
    void addDialog(SipPacket *msg, const Headers &d, std::initializer_list<Field> order) const;
    SipRequest *registerRequest(const QString &user, const QString *authorization);
    SipRequest *inviteRequest(const QString &user, const QString &number, const QString *authorization, int kind);
    SipRequest *dialogRequest(const QString &uri, const Headers &d, const QString &logLabel);
    SipResponse *newResponse(const QString &code, const QString &reason);
    QString byeUri() const;
    // "UDP", "TCP" or "TLS"; and the address and port Via and Contact give:
    // a stream's own once connected, else the media address and the configured port.
    QString transportName() const;
    QString ownPort() const;
    QString ownHost() const;
    // The parameters of `uri` (";gr=...;transport=tcp"), for its request line.
    static QString uriParameters(const QString &uri);
    // The server's port as the transport reaches it.
    QString serverPort() const;
    // Adds the SDP body with its Content-Length; returns that length.
    int attachSdp(SipPacket *msg, bool answer, bool repeat = false);
    void addSdp(SipPacket *msg, bool answer, bool repeat = false);
    void addRoutes(SipPacket *msg);
    void finishCopy(SipPacket *msg);
    static QString topVia(SipPacket *request);
    static void addViaList(SipPacket *msg, SipPacket *request);

    SipMessageParser *parser;
    const AccountSettings &settings;
    const NetworkEnvironment &network;
    SipDialog &dialog;
};

#endif // SIPBUILDER_H
