#ifndef SIPPROCESSOR_H
#define SIPPROCESSOR_H

// What the user agent does with each received message: the call state
// machine, the answers to challenges and the replies to the server's
// requests. Asks the builders for messages and the user agent to send them;
// reports through the user agent's signals.

#include <QString>

struct AccountSettings;
class Sip;
class SipBuilder;
class SipContentHeader;
class SipDialog;
class SipPacket;
class SdpSession;

class SipProcessor
{
public:
    SipProcessor(Sip *sip, SipBuilder &builder, SipDialog &dialog, const AccountSettings &settings);

    // Takes ownership of message.
    void processSip(SipPacket *message);
    // Tells the media layer what the call's offer and answer settled, if it changed.
    void updateMedia();

    // The fields of the message being processed.
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

private:
    void processRequest(SipPacket *msg);
    void processResponse(SipPacket *msg);
    void incomingInvite(SipPacket *msg);
    void incomingUpdate(SipPacket *msg);
    void incomingInfo(SipPacket *msg);
    bool negotiateTimer(SipPacket *msg, bool inDialog);
    void restartTimer();
    // Our re-INVITE or UPDATE answered; true when msg was one.
    bool refreshAnswered(SipPacket *msg, int status, int cseq);
    // A 301/302 to our INVITE, followed once; true when it was.
    bool followRedirect(SipPacket *msg);
    // A 422 to our INVITE, asked again once with its Min-SE; true when it was.
    bool retryInterval(SipPacket *msg);
    void setSipParam(SipPacket *msg);
    void learnRoute(SipPacket *msg, bool fromRequest);
    // Ends what a refusal ends; `fixedText` (logged) stands for status and reason.
    void failure(SipPacket *msg, const QString &fixedText);
    void requestTimedOut(const QString &method, const QString &callId);
    void ackTimedOut(const QString &callId);
    int grantedExpiry(SipPacket *msg) const;
    void registerChallenge(SipPacket *msg);
    void challenge(SipPacket *msg, bool proxy);
    static bool readSdp(SipPacket *msg, SdpSession &sdp);
    bool answerable(const SdpSession &offer) const;
    // Stores the far end's offer and notes whether it holds the call.
    void takeOffer(const SdpSession &offer);
    // The far end's media address from its description, logged under
    // `label` unless it is empty.
    void takeMedia(const SdpSession &sdp, const QString &label);

    Sip *sip;
    SipBuilder &b;
    SipDialog &d;
    const AccountSettings &settings;
};

#endif // SIPPROCESSOR_H
