#ifndef SIPPROCESSOR_H
#define SIPPROCESSOR_H

// What the user agent does with each received message: the call state
// machine, the answers to challenges and the replies to the server's
// requests. Works on its parser's call fields and builders.

#include <QString>

class MainWindow;
class SipContentHeader;
class SipPacket;
class SipParser;

class SipProcessor
{
public:
    explicit SipProcessor(SipParser *parser);

    // Takes ownership of message.
    void processSip(SipPacket *message);

private:
    void processRequest(SipPacket *msg);
    void processResponse(SipPacket *msg);
    void incomingInvite(SipPacket *msg);
    // Ends what a refusal ends; `fixedText` (logged) stands for status and reason.
    void failure(SipPacket *msg, const QString &fixedText);
    void requestTimedOut(const QString &method, const QString &callId);
    void ackTimedOut(const QString &callId);
    int grantedExpiry(SipPacket *msg) const;
    void registerChallenge(SipPacket *msg);
    void challenge(SipPacket *msg, bool proxy);
    // The far end's media address from an SDP body, logged under `label`
    // unless it is empty.
    void takeMedia(SipContentHeader *body, const QString &label, const QString &codec1Label);

    SipParser *p = nullptr;
    MainWindow *w = nullptr;
};

#endif // SIPPROCESSOR_H
