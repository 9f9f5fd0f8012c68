#ifndef SIPPARSER_H
#define SIPPARSER_H

// The user agent's parser and builder: the message parser's processSip
// handles what it reads; builds the requests and responses the user agent
// sends.

#include "sipmessageparser.h"

#include <QString>
#include <QStringList>

class MainWindow;
class Sip;

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

private:
    enum class ToTagRule { Store, Fresh, Current };
    void reply(const QString &code, const QString &reason, SipPacket *request, ToTagRule rule);
    void sendMessage(SipPacket *msg, SipPacket *judgedBy);
    void addSdp(SipPacket *msg, bool answer);
    void addRoutes(SipPacket *msg);
    void learnRoute(SipPacket *msg, bool fromRequest);
    void challenge(SipPacket *msg, bool proxy);
    void registerChallenge(SipPacket *msg);
    void failure(SipPacket *msg, const QString &text);
    void processRequest(SipPacket *msg);
    void processResponse(SipPacket *msg);
    void incomingInvite(SipPacket *msg);

public:
};

#endif // SIPPARSER_H
