#ifndef SIPPARSER_H
#define SIPPARSER_H

// The user agent's parser and builder: the message parser's processSip
// handles what it reads; builds the requests and responses the user agent
// sends.

#include "sipmessageparser.h"

#include <QString>
#include <QStringList>

#include <initializer_list>

class MainWindow;
class Sip;
class SipHeader;
class SipPacket;
class SipRequest;
class SipProcessor;
class SipResponse;

// Values of SipParser::callState and SipParser::callDirection.
enum CallState { CallIdle = 0, CallCalling = 1, CallOffered = 2, CallEstablished = 3, CallEnded = 4 };
enum CallDirection { CallNoDirection = 0, CallIncoming = 1, CallOutgoing = 2 };
// Names a call state for the log.
const char *callStateName(int state);

class SipParser : public SipMessageParser
{
public:
    explicit SipParser(Sip *sip);
    ~SipParser() override;

    // Receives every message parse() completes, and owns it from then on.
    void processSip(SipPacket *message) override;

    int callDirection = CallNoDirection;
    int callState = CallIdle;

    Sip *sip = nullptr;
    MainWindow *mainWindow = nullptr;
    SipPacket *lastInvite = nullptr;
    SipPacket *lastInviteOk = nullptr;
    QString fromNum;
    QString fromName;
    QString fromAddr;
    QString fromAddrIp;
    QString fromAddrPort;
    QString fromTag;
    QString toNum;
    QString toAddr;
    QString toAddrIp;
    QString toAddrPort;
    QString toTag;
    QString contactNum;
    QString contactAddr;
    QString contactAddrIp;
    QString contactAddrPort;
    QString contactTag;
    QString callId_;
    QString metod_;
    QString cseqMethod;
    QString status;
    QString note;

    // --- user agent: builders and message processing ---
    // Builders (each returns a new message owned by the caller).
    SipRequest *registration(QString user);
    SipRequest *registration(QString user, QString authorization);
    SipRequest *invite(QString user, QString number);
    SipRequest *invite(QString user, QString number, QString authorization, int kind);
    SipPacket *answer200Ok();
    SipPacket *busyIn();
    SipRequest *busyOut();
    SipRequest *disconnectIn();
    SipRequest *disconnectOut();
    SipPacket *disconnect();
    QString tag();
    QString branch();
    QString newCallId();
    QString cnonce();

    // Digest responses per RFC 2617, 32 lower-case hex digits.
    QString sipAuthenticateResponse(QString method, QString username, QString password, QString realm,
                                    QString uri, QString nonce);
    QString sipAuthenticateResponseAuth(QString method, QString username, QString password, QString realm,
                                        QString uri, QString nonce, QString cnonce, QString nc, QString qop);

    // Reply builders: build, send and discard.
    void response(QString code, QString reason, SipPacket *request);
    void requestResponse(QString code, QString reason, SipPacket *request);
    void responseRequest(QString method, SipPacket *response);
    void setSipParam(SipPacket *msg);

    // Consecutive challenges answered for the current REGISTER and INVITE;
    // a wrong password must not loop.
    int registerChallenges = 0;
    int inviteChallenges = 0;
    static const int maxChallenges = 2;
    // Dialog route set (Route values in sending order) and remote target,
    // learnt from Record-Route and Contact when a proxy record-routes.
    QStringList routeSet;
    QString remoteTarget;

    void remember(SipPacket *msg, SipPacket *request, const QString &text);

    // Digest URI of a challenge: its uri (or domain), else the account's domain.
    QString digestUri(const QString &uriAuth) const;
    QString digestAuthorization(const QString &method, const QString &realm, const QString &nonce,
                                const QString &uri, const QString &qop, const QString &opaque);

    // Writes a line to the log when logging is on.
    static void log(const QString &text);
    // The first header of that name when the factory made it of that type.
    template <class T> static T *typed(SipPacket *msg, const char *name, int type)
    {
        return static_cast<T *>(typedHeader(msg, name, type));
    }
    static SipHeader *typedHeader(SipPacket *msg, const char *name, int type);

private:
    friend class SipProcessor;
    enum class ToTagRule { Store, Fresh, Current };
    // One side of a dialog as From, To and Contact write it (Via: host, port
    // and branch in tag).
    struct Party {
        QString user, host, port, tag;
        bool present = false;
    };
    // The headers that name a message's dialog and transaction.
    struct Dialog {
        Party via, from, to, contact;
        SipPacket *viaSource = nullptr; // an answer copies this request's Via list
        QString callId, cseq, method;
        bool hasCallId = false;
        bool hasCseq = false;
    };
    enum class Field { Via, MaxForwards, From, To, CallId, CSeq, Contact };
    Dialog ours(const QString &user, const QString &peer, const QString &branchValue, const QString &fromTag,
                const QString &toTag, const QString &callId, int cseq, const QString &method) const;
    Dialog invited() const;
    // Adds the dialog's headers in the order given.
    void addDialog(SipPacket *msg, const Dialog &d, std::initializer_list<Field> order) const;
    SipRequest *registerRequest(const QString &user, const QString *authorization);
    SipRequest *inviteRequest(const QString &user, const QString &number, const QString *authorization, int kind);
    SipRequest *dialogRequest(const QString &uri, const Dialog &d, const QString &logLabel);
    SipResponse *newResponse(const QString &code, const QString &reason);
    QString byeUri() const;
    // Adds the SDP body with its Content-Length; returns that length.
    int attachSdp(SipPacket *msg, bool answer);
    void reply(const QString &code, const QString &reason, SipPacket *request, ToTagRule rule);
    void sendMessage(SipPacket *msg, SipPacket *judgedBy);
    void finishCopy(SipPacket *msg);
    static QString topVia(SipPacket *request);
    static void addViaList(SipPacket *msg, SipPacket *request);
    void addSdp(SipPacket *msg, bool answer);
    void addRoutes(SipPacket *msg);
    void learnRoute(SipPacket *msg, bool fromRequest);

    SipProcessor *processor = nullptr;
};

#endif // SIPPARSER_H
