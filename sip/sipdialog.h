#ifndef SIPDIALOG_H
#define SIPDIALOG_H

// The user agent's working state: the identifiers of the registration and of
// the call (Call-IDs, tags, branches, CSeq numbers), the call's route set and
// remote target, the far end's media address from its SDP, and the call's
// state. Owned by Sip; the builders read it, processing writes it.

#include "mediadescription.h"
#include "sdpcrypto.h"
#include "sdpsession.h"
#include "sessiontimer.h"

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

    int maxForwards = 70;

    // The call's session descriptions: the origin of ours (no session id
    // yet: the next one starts a session), the last one we sent, the far
    // end's last one, and whether ours was an offer, which then waits for
    // its answer. A new call clears them with newSession().
    SdpOrigin sdpOrigin;
    SdpSession localSdp;
    SdpSession remoteSdp;
    bool localIsOffer = false;
    // The INVITE being answered carried an offer (else our 200 OK offers).
    bool peerOffered = false;
    // What the media layer was last told.
    MediaDescription media;
    // The far end holds the call (its offer was sendonly, inactive or c=0.0.0.0).
    bool heldByPeer = false;
    // The call's SRTP keys as its offer and answer carry them.
    SdpCrypto crypto;
    void newSession();

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
    // How often a redirect (3xx) of this call was followed, and the target
    // its INVITE then goes to; the Request-URI of our last INVITE.
    int redirects = 0;
    QString redirectTarget;
    QString requestUri;
    // The call's session timer (RFC 4028) as negotiated, the interval our
    // INVITE asks for, and the CSeq of our own refresh (re-INVITE or UPDATE).
    SessionTimer::Outcome timer;
    int requestedInterval = SessionTimer::requestedInterval;
    int refreshCseq = -1;
    // The far end's Allow lists UPDATE.
    bool peerAllowsUpdate = false;

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
