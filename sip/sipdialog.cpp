#include "sipdialog.h"

#include "sippacket.h"

const char *callStateName(CallState state)
{
    switch (state) {
    case CallState::Idle: return "idle";
    case CallState::Calling: return "calling";
    case CallState::Offered: return "offered";
    case CallState::Established: return "established";
    case CallState::Ended: return "ended";
    }
    return "unknown";
}

const char *callDirectionName(CallDirection direction)
{
    switch (direction) {
    case CallDirection::None: return "none";
    case CallDirection::Incoming: return "incoming";
    case CallDirection::Outgoing: return "outgoing";
    }
    return "unknown";
}

void SipDialog::newSession()
{
    sdpOrigin = SdpOrigin();
    localSdp = SdpSession();
    remoteSdp = SdpSession();
    localIsOffer = false;
    peerOffered = false;
    timer = SessionTimer::Outcome();
    refreshCseq = -1;
    peerAllowsUpdate = false;
    media = MediaDescription();
    heldByPeer = false;
    crypto.clear();
}

SipDialog::~SipDialog()
{
    delete lastInvite;
    delete lastInviteOk;
}

void SipDialog::setLastInvite(SipPacket *invite)
{
    if (invite == lastInvite)
        return;
    delete lastInvite;
    lastInvite = invite;
}

void SipDialog::setLastInviteOk(SipPacket *ok)
{
    if (ok == lastInviteOk)
        return;
    delete lastInviteOk;
    lastInviteOk = ok;
}
