#ifndef SIPDIALOG_H
#define SIPDIALOG_H

// The user agent's working state: the identifiers of the registration and of
// the call (Call-IDs, tags, branches, CSeq numbers), the call's route set and
// remote target, the far end's media address from its SDP, and the call's
// state. Owned by Sip; the builders read it, processing writes it.

#include <QString>
#include <QStringList>

class SipPacket;

enum class CallState { Idle, Calling, Offered, Established, Ended };
enum class CallDirection { None, Incoming, Outgoing };
// Names for the log.
const char *callStateName(CallState state);
const char *callDirectionName(CallDirection direction);

class SipDialog
{
public:
    SipDialog() = default;
    ~SipDialog();
    SipDialog(const SipDialog &) = delete;
    SipDialog &operator=(const SipDialog &) = delete;

    // A call being placed, ringing in, or up.
    bool callInProgress() const
    {
        return callState == CallState::Calling || callState == CallState::Offered
               || callState == CallState::Established;
    }
    // Keeps a copy of the INVITE (or its 200 OK) the call is built on.
    void setLastInvite(SipPacket *invite);
    void setLastInviteOk(SipPacket *ok);

    CallState callState = CallState::Idle;
    CallDirection callDirection = CallDirection::None;

    // What the SDP offers and answers.
    QString payloadA = QStringLiteral("8");
    QString payloadU = QStringLiteral("0");
    QString rtpmapA = QStringLiteral("a=rtpmap:8 PCMA/8000");
    QString rtpmapU = QStringLiteral("a=rtpmap:0 PCMU/8000");
    int maxForwards = 70;

    // The registration.
    int regCseq = 1;
    QString regBranch;
    QString regCallId;
    QString regFromTag;
    QString regToTag;

    // The call: the other party's number and the dialog's identifiers.
    QString called;
    int cseq = 1;
    QString callBranch;
    QString callFromTag;
    QString callToTag;
    QString callCallId;
    bool earlyMedia = false;
    // Route set (Route values in sending order) and remote target, learnt from
    // Record-Route and Contact when a proxy record-routes.
    QStringList routeSet;
    QString remoteTarget;

    // The far end's media address, from its SDP.
    QString mediaIp_;
    QString mediaPort_;

    // The INVITE of an incoming call (answers copy its Via, From and CSeq) and
    // the 200 OK of an outgoing one.
    SipPacket *lastInvite = nullptr;
    SipPacket *lastInviteOk = nullptr;

    // Consecutive challenges answered for the current REGISTER and INVITE;
    // a wrong password must not loop.
    int registerChallenges = 0;
    int inviteChallenges = 0;
    static const int maxChallenges = 2;
};

#endif // SIPDIALOG_H
