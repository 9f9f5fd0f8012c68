#include "sipprocessor.h"

#include "accountsettings.h"
#include "codecchoice.h"
#include "codecsettings.h"
#include "dtmfinfo.h"
#include "sdpsession.h"
#include "sessiontimer.h"
#include "sip.h"
#include "sipbuilder.h"
#include "sipcontactheader.h"
#include "sipdialog.h"
#include "sipcontentheader.h"
#include "sipcseqheader.h"
#include "sipfromheader.h"
#include "sipparser.h"
#include "sipproxyauthenticateheader.h"
#include "sipresponse.h"
#include "siprequest.h"
#include "siptoheader.h"
#include "siptransactions.h"
#include "sipviaheader.h"
#include "sipwwwauthenticateheader.h"

#include <QDebug>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

SipProcessor::SipProcessor(Sip *sip, SipBuilder &builder, SipDialog &dialog, const AccountSettings &settings)
    : sip(sip), b(builder), d(dialog), settings(settings)
{
    SipTransactions *transactions = sip->transactions;
    QObject::connect(transactions, &SipTransactions::requestTimedOut, transactions,
                     [this](const QString &method, const QString &callId) { requestTimedOut(method, callId); });
    QObject::connect(transactions, &SipTransactions::ackTimedOut, transactions,
                     [this](const QString &callId) { ackTimedOut(callId); });
}

void SipProcessor::requestTimedOut(const QString &method, const QString &callId)
{
    // A BYE or CANCEL ended the call here when it was sent; a REGISTER that
    // nobody answers leaves us unregistered until the timer's next try.
    if (method == QLatin1String("REGISTER"))
        sip->setRegistered(false, 408);
    if (method != QLatin1String("INVITE") || callId != d.callCallId || d.callState != CallState::Calling)
        return;
    sip->setCallState(CallState::Ended);
    emit sip->callEnded(CallEnd::NoAnswer, 408, QString());
}

// The caller never acknowledged our 200 OK: the call is not up at its end.
void SipProcessor::ackTimedOut(const QString &callId)
{
    if (callId != d.callCallId || d.callState != CallState::Established || d.callDirection != CallDirection::Incoming)
        return;
    sip->setCallState(CallState::Ended);
    if (SipRequest *bye = b.disconnectIn()) {
        sip->sendRequest(bye);
        delete bye;
    }
    emit sip->callEnded(CallEnd::NotAcknowledged, 408, QString());
}

// The registrar's grant: our Contact's expires, else Expires, else what we asked.
int SipProcessor::grantedExpiry(SipPacket *msg) const
{
    int fallback = -1;
    for (SipHeader *header : qAsConst(msg->headers)) {
        if (header->headerType != SipHeader::Contact && header->headerName.compare(QLatin1String("Contact"), Qt::CaseInsensitive) != 0)
            continue;
        for (const QString &contact : header->headerValue.split(QLatin1Char(','))) {
            static const QRegularExpression expires(QStringLiteral(";\\s*expires\\s*=\\s*(\\d+)"),
                                                    QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch match = expires.match(contact.mid(qMax(0, contact.indexOf(QLatin1Char('>')))));
            if (!match.hasMatch())
                continue;
            const int seconds = match.captured(1).toInt();
            if (contact.contains(QLatin1Char('@') + settings.mediaIp))
                return seconds;
            if (fallback < 0)
                fallback = seconds;
        }
    }
    if (fallback >= 0)
        return fallback;
    const QString expires = msg->getHeaderString(QStringLiteral("Expires"), 1).trimmed();
    bool ok = false;
    const int seconds = expires.toInt(&ok);
    return ok ? seconds : settings.registrTimeout;
}

void SipProcessor::processSip(SipPacket *message)
{
    std::unique_ptr<SipPacket> owned(message);
    if (!message)
        return;
    metod_ = message->method;
    SipBuilder::log(QStringLiteral("!!! SipParser processSip metod_: ") + metod_);
    if (message->getHeader(QStringLiteral("Call-ID"))) {
        callId_ = message->getHeaderString(QStringLiteral("Call-ID"), 1);
        SipBuilder::log(QStringLiteral("callId_ ") + callId_);
    }
    auto *cseqHeader = SipBuilder::typed<SipCseqHeader>(message, "CSeq", SipHeader::Cseq);
    if (cseqHeader)
        cseqMethod = cseqHeader->cseqMethod;
    auto *via = SipBuilder::typed<SipViaHeader>(message, "Via", SipHeader::Via);
    const QString branch = via ? via->branch : QString();
    SipTransactions *transactions = sip->transactions;
    if (message->packetType == PacketRequest && metod_ == QLatin1String("ACK") && cseqHeader)
        transactions->acknowledged(callId_, cseqHeader->number);
    // A request that comes again gets the answer already sent, and nothing more.
    if (message->packetType == PacketRequest && transactions->repeatAnswer(branch, metod_)) {
        SipBuilder::log(QStringLiteral("In REQUEST Rx: ") + metod_ + QStringLiteral(" retransmitted"));
        return;
    }
    if (message->packetType == PacketRequest)
        processRequest(message);
    else if (message->packetType == PacketResponse)
        processResponse(message);
}

// The far end's session description in a message, if it carries one: a body
// typed application/sdp (or untyped) with an audio stream or without.
bool SipProcessor::readSdp(SipPacket *msg, SdpSession &sdp)
{
    auto *body = SipBuilder::typed<SipContentHeader>(msg, "Content", SipHeader::Content);
    if (!body || body->headerValue.trimmed().isEmpty())
        return false;
    const QString type = msg->getHeaderString(QStringLiteral("Content-Type"), 1).trimmed();
    if (!type.isEmpty() && !type.startsWith(QLatin1String("application/sdp"), Qt::CaseInsensitive))
        return false;
    sdp = SdpSession::fromText(body->headerValue);
    return true;
}

// An offer that holds us: it wants nothing sent to it (RFC 3264 8.4).
void SipProcessor::takeOffer(const SdpSession &offer)
{
    d.remoteSdp = offer;
    const bool held = offer.hasAudio
        && (offer.direction == SdpDirection::SendOnly || offer.direction == SdpDirection::Inactive || offer.nullAddress());
    if (held != d.heldByPeer) {
        d.heldByPeer = held;
        SipBuilder::log(held ? QStringLiteral("!!! Call held by the far end") : QStringLiteral("!!! Call resumed by the far end"));
        emit sip->remoteHoldChanged(held);
    }
}

// An offer we can answer: a format in common, and keys as the
// "Шифров. медиа" setting wants them (none for SAVP with encryption off).
bool SipProcessor::answerable(const SdpSession &offer) const
{
    SdpSession answer = SdpSession::answer(offer, enabledFormats(settings));
    return !answer.formats.isEmpty() && SdpCrypto(mediaEncryption(settings.encryptMedia)).answerOffer(offer, answer);
}

// The far end's address and port, for the log and the media layer.
void SipProcessor::takeMedia(const SdpSession &sdp, const QString &label)
{
    if (!sdp.hasAudio)
        return;
    d.mediaIp_ = sdp.address();
    d.mediaPort_ = QString::number(sdp.mediaPort);
    // Nothing may be sent to c=0.0.0.0: the last usable address stays.
    if (!sdp.nullAddress())
        emit sip->mediaAddressChanged(d.mediaIp_, d.mediaPort_);
    if (label.isEmpty())
        return;
    SipBuilder::log(label + QStringLiteral("mediaIp_: ") + d.mediaIp_);
    SipBuilder::log(label + QStringLiteral("mediaPort_: ") + d.mediaPort_);
}

// What the offer and answer settled, told to the media layer when it changed.
void SipProcessor::updateMedia()
{
    const SdpSession &remote = d.remoteSdp;
    const SdpSession &local = d.localSdp;
    if (!remote.hasAudio || !local.hasAudio)
        return;
    const QString eventName = QStringLiteral("telephone-event");
    std::optional<SdpFormat> codec;
    const SdpFormat *event = nullptr;
    if (d.localIsOffer) {
        // Their answer: its first format we offered, at its payload type.
        codec = answeredCodec(local.formats, remote.formats);
        if (local.format(eventName))
            event = remote.format(eventName);
    } else {
        // Our answer: its first voice format, at the offer's payload type.
        for (const SdpFormat &f : local.formats) {
            if (f.encoding.compare(eventName, Qt::CaseInsensitive) != 0) {
                codec = f;
                break;
            }
        }
        event = local.format(eventName);
    }
    const auto sends = [](SdpDirection dir) { return dir == SdpDirection::SendRecv || dir == SdpDirection::SendOnly; };
    const auto receives = [](SdpDirection dir) { return dir == SdpDirection::SendRecv || dir == SdpDirection::RecvOnly; };
    MediaDescription media;
    media.address = remote.address();
    media.port = remote.mediaPort;
    media.codec = codec.value_or(SdpFormat());
    media.eventPayloadType = event ? event->payloadType : -1;
    media.send = codec.has_value() && remote.wantsToReceive() && local.mediaPort > 0 && sends(local.direction);
    media.receive = codec.has_value() && remote.wantsToSend() && local.mediaPort > 0 && receives(local.direction);
    media.srtp = d.crypto.active();
    if (media.srtp) {
        media.sendKey = d.crypto.ours();
        media.receiveKey = d.crypto.theirs();
    }
    if (media == d.media)
        return;
    d.media = media;
    SipBuilder::log(QStringLiteral("!!! Media: %1:%2 %3/%4 pt %5, events %6, send %7, receive %8")
                        .arg(media.address).arg(media.port).arg(media.codec.encoding).arg(media.codec.clockRate)
                        .arg(media.codec.payloadType).arg(media.eventPayloadType)
                        .arg(media.send ? "yes" : "no", media.receive ? "yes" : "no")
                        + (media.srtp ? QStringLiteral(", SRTP ") + SdesCrypto::suiteName(media.sendKey.suite) : QString()));
    emit sip->mediaChanged(media);
}

namespace {
// Whether a comma-separated header (Allow, Supported) of msg lists `token`.
bool lists(SipPacket *msg, const char *name, const QString &token)
{
    for (SipHeader *header : qAsConst(msg->headers)) {
        if (header->headerName.compare(QLatin1String(name), Qt::CaseInsensitive) != 0)
            continue;
        for (const QString &item : header->headerValue.split(QLatin1Char(',')))
            if (item.trimmed().compare(token, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}
} // namespace

// The session timer an INVITE or a refresh asks for (RFC 4028 9); false
// when it was refused with 422.
bool SipProcessor::negotiateTimer(SipPacket *msg, bool inDialog)
{
    if (settings.disableSessionTimer) {
        d.timer = SessionTimer::Outcome();
        return true;
    }
    const SessionTimer::Outcome o = SessionTimer::answerRequest(
        msg->getHeaderString(QStringLiteral("Session-Expires"), 1), lists(msg, "Supported", QStringLiteral("timer")));
    if (o.status == 422) {
        sip->sendReply(b.reply(QStringLiteral("422"), QStringLiteral("Session Interval Too Small"), msg,
                               inDialog ? SipBuilder::ToTagRule::Current : SipBuilder::ToTagRule::Fresh,
                               {QStringLiteral("Min-SE: ") + QString::number(o.minSe)}),
                       msg);
        return false;
    }
    d.timer = o;
    return true;
}

// A refresh answered: the session runs on from now, or without a timer.
void SipProcessor::restartTimer()
{
    if (d.timer.interval > 0)
        sip->sessionTimer->start(d.timer);
    else
        sip->sessionTimer->stop();
}

// UPDATE (RFC 3311) in the call's dialog: a refresh, with an offer or without.
void SipProcessor::incomingUpdate(SipPacket *msg)
{
    if (callId_ != d.callCallId || d.callState != CallState::Established) {
        sip->sendReply(b.reply(QStringLiteral("481"), QStringLiteral("Call/Transaction Does Not Exist"), msg,
                               SipBuilder::ToTagRule::Fresh), msg);
        return;
    }
    SdpSession offer;
    const bool offered = readSdp(msg, offer);
    if (offered && SdpSession::answer(offer, enabledFormats(settings)).formats.isEmpty()) {
        sip->sendReply(b.reply(QStringLiteral("488"), QStringLiteral("Not Acceptable Here"), msg,
                               SipBuilder::ToTagRule::Current), msg);
        return;
    }
    if (!negotiateTimer(msg, true))
        return;
    SipResponse *ok = b.reply(QStringLiteral("200"), QStringLiteral("OK"), msg, SipBuilder::ToTagRule::Current,
                              b.timerLines());
    if (offered) {
        d.peerOffered = true;
        takeOffer(offer);
        takeMedia(offer, QString());
        b.attachAnswer(ok);
    }
    sip->sendReply(ok, msg);
    restartTimer();
    if (offered)
        updateMedia();
}

// INFO (RFC 6086): keys of DTMF relay are logged; the legacy usage without
// an Info-Package header is accepted, a package we never announced refused.
void SipProcessor::incomingInfo(SipPacket *msg)
{
    if (callId_ != d.callCallId || !d.callInProgress()) {
        sip->sendReply(b.reply(QStringLiteral("481"), QStringLiteral("Call/Transaction Does Not Exist"), msg,
                               SipBuilder::ToTagRule::Fresh), msg);
        return;
    }
    if (msg->getHeader(QStringLiteral("Info-Package"))) {
        sip->sendReply(b.reply(QStringLiteral("469"), QStringLiteral("Bad Info Package"), msg,
                               SipBuilder::ToTagRule::Current, {QStringLiteral("Recv-Info: ")}), msg);
        return;
    }
    auto *body = SipBuilder::typed<SipContentHeader>(msg, "Content", SipHeader::Content);
    const QChar digit = dtmfInfoDigit(msg->getHeaderString(QStringLiteral("Content-Type"), 1),
                                      body ? body->headerValue : QString());
    if (!digit.isNull()) {
        qDebug().noquote().nospace() << "!!! DTMF received: " << digit << " (INFO)";
        emit sip->dtmfReceived(digit);
    }
    sip->sendReply(b.reply(QStringLiteral("200"), QStringLiteral("OK"), msg, SipBuilder::ToTagRule::Current), msg);
}

void SipProcessor::incomingInvite(SipPacket *msg)
{
    auto *cseqHeader = SipBuilder::typed<SipCseqHeader>(msg, "CSeq", SipHeader::Cseq);
    const QString number = cseqHeader ? cseqHeader->number : QString();
    const bool sameCall = !callId_.isEmpty() && callId_ == d.callCallId;
    const bool inProgress = d.callState >= CallState::Calling && d.callState <= CallState::Established;

    // One call at a time: another caller is told we are busy, and the call in
    // progress keeps its identifiers.
    if (inProgress && !sameCall) {
        SipBuilder::log(QStringLiteral("In REQUEST Rx: INVITE during a call, busy"));
        sip->sendReply(b.reply(QStringLiteral("486"), QStringLiteral("Busy Here"), msg, SipBuilder::ToTagRule::Fresh), msg);
        return;
    }
    if (inProgress && sameCall) {
        auto *toHeader = SipBuilder::typed<SipToHeader>(msg, "To", SipHeader::To);
        auto *offered = SipBuilder::typed<SipCseqHeader>(d.lastInvite, "CSeq", SipHeader::Cseq);
        const bool retransmission = d.callDirection == CallDirection::Incoming && offered && offered->number == number
                                    && (!toHeader || toHeader->tag.isEmpty());
        if (retransmission && d.callState == CallState::Offered) {
            // A provisional answer was lost: repeat it with the same To tag.
            SipBuilder::log(QStringLiteral("In REQUEST Rx: INVITE retransmitted"));
            sip->sendReply(b.reply(QStringLiteral("100"), QStringLiteral("Trying"), msg, SipBuilder::ToTagRule::Current), msg);
            sip->sendReply(b.reply(QStringLiteral("180"), QStringLiteral("Ringing"), msg, SipBuilder::ToTagRule::Current), msg);
            return;
        }
        if (retransmission && d.callState == CallState::Established) {
            // Our 200 OK was lost: send it again.
            if (SipPacket *ok = b.answer200Ok(true))
                sip->sendReply(ok, d.lastInvite);
            return;
        }
        if (d.callState == CallState::Established && toHeader && !toHeader->tag.isEmpty()) {
            // A re-INVITE refreshes the session or moves the media; the call
            // goes on as it was.
            SipBuilder::log(QStringLiteral("In REQUEST Rx: re-INVITE"));
            SdpSession offer;
            const bool offered = readSdp(msg, offer);
            // No format in common: this offer is refused and the call goes
            // on as it was (RFC 3264 6, RFC 3261 14.2).
            if (offered && !answerable(offer)) {
                SipBuilder::log(QStringLiteral("In REQUEST Rx: re-INVITE with no codec or encryption in common"));
                sip->sendReply(b.reply(QStringLiteral("488"), QStringLiteral("Not Acceptable Here"), msg,
                                       SipBuilder::ToTagRule::Current), msg);
                return;
            }
            if (!negotiateTimer(msg, true))
                return;
            d.peerOffered = offered;
            if (offered) {
                takeOffer(offer);
                takeMedia(offer, QString());
            }
            SipPacket *stored = d.lastInvite;
            d.lastInvite = sip->parser->cloneSipRequest(msg);
            const QString ourTag = d.callToTag;
            d.callToTag = toHeader->tag;
            SipPacket *ok = b.answer200Ok();
            d.callToTag = ourTag;
            delete d.lastInvite;
            d.lastInvite = stored;
            if (ok)
                sip->sendReply(ok, msg);
            restartTimer();
            updateMedia();
            return;
        }
    }

    SdpSession offer;
    const bool offered = readSdp(msg, offer);
    // An offer we cannot answer is refused before anything rings (RFC 3264 6).
    if (offered && !answerable(offer)) {
        SipBuilder::log(QStringLiteral("In REQUEST Rx: INVITE with no codec or encryption in common"));
        sip->sendReply(b.reply(QStringLiteral("488"), QStringLiteral("Not Acceptable Here"), msg,
                               SipBuilder::ToTagRule::Fresh), msg);
        return;
    }
    SipBuilder::log(QStringLiteral("In REQUEST Rx: INVITE"));
    d.newSession();
    if (!negotiateTimer(msg, false))
        return;
    d.peerAllowsUpdate = lists(msg, "Allow", QStringLiteral("UPDATE"));
    d.peerOffered = offered;
    if (offered)
        takeOffer(offer);
    d.callDirection = CallDirection::Incoming;
    sip->setCallState(CallState::Offered);
    setSipParam(msg);
    d.callFromTag = fromTag;
    d.callToTag = toTag;
    d.callCallId = callId_;
    d.cseq = number.toInt();
    if (offered)
        takeMedia(offer, QStringLiteral("INVITE "));
    d.setLastInvite(sip->parser->cloneSipRequest(msg));
    learnRoute(msg, true);
    sip->sendReply(b.reply(QStringLiteral("100"), QStringLiteral("Trying"), msg, SipBuilder::ToTagRule::Store), msg);
    sip->sendReply(b.reply(QStringLiteral("180"), QStringLiteral("Ringing"), msg, SipBuilder::ToTagRule::Store), msg);
    d.called = fromNum;
    emit sip->incomingCall(d.called);
}

void SipProcessor::processRequest(SipPacket *msg)
{
    const QString &metod = metod_;
    SipBuilder::log(QStringLiteral("!!! REQUEST"));
    SipBuilder::log(QStringLiteral(" metod_: ") + metod);
    // A BYE or CANCEL of some other dialog (say, of a caller we turned away as
    // busy) must not end the call in progress.
    const bool otherDialog = d.callState >= CallState::Calling && d.callState <= CallState::Established
                             && callId_ != d.callCallId;
    if (metod == QLatin1String("INVITE")) {
        incomingInvite(msg);
    } else if (metod == QLatin1String("OPTIONS")) {
        SipBuilder::log(QStringLiteral("In REQUEST Rx: OPTIONS"));
        sip->sendReply(b.reply(QStringLiteral("200"), QStringLiteral("OK"), msg, SipBuilder::ToTagRule::Fresh), msg);
    } else if (metod == QLatin1String("BYE") || metod == QLatin1String("CANCEL")) {
        const bool bye = metod == QLatin1String("BYE");
        SipBuilder::log(bye ? QStringLiteral("In REQUEST Rx: BYE") : QStringLiteral("In REQUEST Rx: CANCEL"));
        const bool ringingIn = !bye && d.callDirection == CallDirection::Incoming && d.callState == CallState::Offered
                               && d.lastInvite;
        const bool answeredIn = !bye && d.callDirection == CallDirection::Incoming && d.callState == CallState::Established;
        // Only the call in progress can end (RFC 3261 15.1.2, 9.2); a CANCEL
        // after our 200 OK changes nothing.
        if (otherDialog || callId_ != d.callCallId || d.callState < CallState::Calling || d.callState > CallState::Established
            || (!bye && !ringingIn && !answeredIn)) {
            sip->sendReply(b.reply(QStringLiteral("481"), QStringLiteral("Call/Transaction Does Not Exist"), msg, SipBuilder::ToTagRule::Fresh), msg);
            return;
        }
        if (answeredIn) {
            sip->sendReply(b.reply(QStringLiteral("200"), QStringLiteral("OK"), msg, SipBuilder::ToTagRule::Fresh), msg);
            return;
        }
        sip->setCallState(CallState::Ended);
        sip->sendReply(b.reply(QStringLiteral("200"), QStringLiteral("OK"), msg, SipBuilder::ToTagRule::Fresh), msg);
        // The cancelled INVITE still needs its final answer (RFC 3261 9.2);
        // without it the caller and every proxy between wait for their timers.
        if (ringingIn)
            sip->sendReply(b.reply(QStringLiteral("487"), QStringLiteral("Request Terminated"), d.lastInvite, SipBuilder::ToTagRule::Current), d.lastInvite);
        emit sip->callEnded(bye ? CallEnd::RemoteBye : CallEnd::RemoteCancel, 0, metod);
    } else if (metod == QLatin1String("ACK")) {
        SipBuilder::log(QStringLiteral("In REQUEST Rx: ACK"));
        // Our offer went in a 200 OK to an INVITE without one: the ACK answers it.
        SdpSession answer;
        if (!otherDialog && callId_ == d.callCallId && d.localIsOffer && readSdp(msg, answer)) {
            if (!d.crypto.takeAnswer(answer)) {
                SipBuilder::log(QStringLiteral("In REQUEST Rx: ACK without the SRTP keys required"));
                sip->setCallState(CallState::Ended);
                if (SipRequest *bye = b.disconnectIn()) {
                    sip->sendRequest(bye);
                    delete bye;
                }
                emit sip->callEnded(CallEnd::NotEncrypted, 488, QString());
                return;
            }
            d.remoteSdp = answer;
            takeMedia(answer, QString());
            updateMedia();
        }
    } else if (metod == QLatin1String("UPDATE")) {
        incomingUpdate(msg);
    } else if (metod == QLatin1String("INFO")) {
        incomingInfo(msg);
    } else if (QStringList{"REFER", "REGISTER", "SUBSCRIBE", "NOTIFY", "MESSAGE", "PUBLISH", "PRACK"}.contains(metod)) {
        // Methods we know and do not take: 405 with our Allow (RFC 3261 8.2.1).
        sip->sendReply(b.reply(QStringLiteral("405"), QStringLiteral("Method Not Allowed"), msg, SipBuilder::ToTagRule::Fresh), msg);
    } else if (!metod.isEmpty()) {
        // Every request gets a final answer, or the peer retransmits it for
        // 32 s and may end the call (RFC 5057).
        sip->sendReply(b.reply(QStringLiteral("501"), QStringLiteral("Not Implemented"), msg, SipBuilder::ToTagRule::Fresh), msg);
    }
}

void SipProcessor::failure(SipPacket *msg, const QString &fixedText)
{
    const QString text = fixedText.isEmpty() ? status + ' ' + note : fixedText;
    if (!fixedText.isEmpty())
        SipBuilder::log(QStringLiteral("Out Rx: ") + fixedText);
    // A refused REGISTER only leaves us unregistered; the timer tries again.
    if (cseqMethod == QLatin1String("REGISTER")) {
        SipBuilder::log(QStringLiteral("Out Rx: REGISTER refused, ") + text);
        sip->setRegistered(false, status.toInt());
        return;
    }
    // ACK is for INVITE alone; a refused BYE or CANCEL ended nothing more.
    if (cseqMethod != QLatin1String("INVITE")) {
        SipBuilder::log(QStringLiteral("Out Rx: ") + cseqMethod + QStringLiteral(" refused, ") + text);
        return;
    }
    sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
    if (callId_ != d.callCallId) {
        SipBuilder::log(QStringLiteral("Out Rx: answer to an old call, ") + status);
        return;
    }
    // A failure that arrives after this side ended the call (the 487 to our
    // CANCEL, a 481 to our BYE) must not start the busy tone again.
    if (d.callState == CallState::Ended) {
        SipBuilder::log(QStringLiteral("Out Rx: call already ended, ") + status);
        return;
    }
    // A refused INVITE ends the call on this side too, or the next caller
    // would be told we are busy.
    sip->setCallState(CallState::Ended);
    emit sip->callEnded(CallEnd::Refused, status.toInt(), text);
}

void SipProcessor::registerChallenge(SipPacket *msg)
{
    SipBuilder::log(QStringLiteral("REGISTER status: ") + status);
    SipBuilder::log(QStringLiteral("Out RESPONSE Rx: 401 Unauthorized REGISTER"));
    if (auto *from = SipBuilder::typed<SipFromHeader>(msg, "From", SipHeader::From))
        fromNum = from->num;
    auto *challenge =
        SipBuilder::typed<SipWwwAuthenticateHeader>(msg, "WWW-Authenticate", SipHeader::WwwAuthenticate);
    if (!challenge)
        return;
    const QString realmAuth = challenge->realm;
    const QString nonceAuth = challenge->nonce;
    const QString uriAuth = challenge->uri.isEmpty() ? challenge->domain : challenge->uri;
    SipBuilder::log(QStringLiteral(" realmAuth: ") + realmAuth);
    SipBuilder::log(QStringLiteral(" nonceAuth: ") + nonceAuth);
    SipBuilder::log(QStringLiteral(" uriAuth: ") + uriAuth);
    SipBuilder::log(QStringLiteral(" qopAuth: ") + challenge->qop);
    SipBuilder::log(QStringLiteral(" opaqueAuth: ") + challenge->opaque);
    if (realmAuth.isEmpty() || nonceAuth.isEmpty())
        return;
    // A wrong password is not retried forever: the next timer expiry starts over.
    if (d.registerChallenges >= SipDialog::maxChallenges) {
        SipBuilder::log(QStringLiteral("REGISTER challenged again, credentials refused; waiting for the timer"));
        return;
    }
    ++d.registerChallenges;
    const QString uri = b.digestUri(uriAuth);
    SipBuilder::log(QStringLiteral("uri ") + uri);
    const QString authorization =
        b.digestAuthorization(QStringLiteral("REGISTER"), realmAuth, nonceAuth, uri, QString(), QString());
    SipBuilder::log(QStringLiteral("sipAuthenticateResponse Authorization: ") + authorization);
    sip->registered = false;
    SipRequest *retry = b.registration(fromNum, authorization);
    sip->sendRequest(retry);
    delete retry;
}

void SipProcessor::challenge(SipPacket *msg, bool proxy)
{
    SipBuilder::log(QStringLiteral("INVITE status: ") + status);
    setSipParam(msg);
    SipBuilder::log(proxy ? QStringLiteral("Out RESPONSE Rx: 407 Unauthorized INVITE")
                         : QStringLiteral("Out RESPONSE Rx: 401 Unauthorized INVITE"));
    // A challenge to an INVITE the user already gave up is only acknowledged.
    if (d.callState == CallState::Ended) {
        sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
        return;
    }
    if (d.inviteChallenges >= SipDialog::maxChallenges) {
        SipBuilder::log(QStringLiteral("INVITE challenged again, credentials refused"));
        sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
        sip->setCallState(CallState::Ended);
        emit sip->callEnded(CallEnd::Refused, status.toInt(), status + ' ' + note);
        return;
    }
    ++d.inviteChallenges;
    SipChallengeHeader *header = proxy
        ? static_cast<SipChallengeHeader *>(
              SipBuilder::typed<SipProxyAuthenticateHeader>(msg, "Proxy-Authenticate", SipHeader::ProxyAuthenticate))
        : SipBuilder::typed<SipWwwAuthenticateHeader>(msg, "WWW-Authenticate", SipHeader::WwwAuthenticate);
    QString authorization;
    if (header) {
        const QString realm = header->realm;
        const QString nonce = header->nonce;
        const QString uriAuth = header->uri.isEmpty() ? header->domain : header->uri;
        const QString qop = header->qop;
        SipBuilder::log(QStringLiteral("sipAuthenticateResponse realmAuth: ") + realm);
        SipBuilder::log(QStringLiteral("sipAuthenticateResponse nonceAuth: ") + nonce);
        SipBuilder::log(QStringLiteral("sipAuthenticateResponse uriAuth: ") + uriAuth);
        SipBuilder::log(QStringLiteral("sipAuthenticateResponse qopAuth: ") + qop);
        SipBuilder::log(QStringLiteral("sipAuthenticateResponse opaqueAuth: ") + header->opaque);
        if (!realm.isEmpty() && !nonce.isEmpty()) {
            const QString uri = b.digestUri(uriAuth);
            SipBuilder::log(QStringLiteral("sipAuthenticateResponse uri: ") + uri);
            authorization =
                b.digestAuthorization(QStringLiteral("INVITE"), realm, nonce, uri, qop, header->opaque);
            SipBuilder::log((qop == QLatin1String("auth") ? QStringLiteral("sipAuthenticateResponse Authorization(2): ")
                                                         : QStringLiteral("sipAuthenticateResponse Authorization(1): "))
                           + authorization);
        }
    }
    sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
    d.cseq = d.cseq + 1;
    const int kept = d.inviteChallenges;
    SipRequest *retry = b.invite(fromNum, toNum, authorization, proxy ? 2 : 1);
    d.inviteChallenges = kept;
    sip->sendRequest(retry);
    delete retry;
}

void SipProcessor::processResponse(SipPacket *msg)
{
    status = msg->statusCode;
    note = msg->reasonPhrase;
    SipBuilder::log(QStringLiteral("!!! RESPONSE"));
    SipBuilder::log(QStringLiteral(" status: ") + status);
    SipBuilder::log(QStringLiteral(" note: ") + note);
    if (status.isEmpty())
        return;
    const QChar first = status.at(0);
    if (!first.isDigit() || first.digitValue() > 6)
        return;
    auto *cseqHeader = SipBuilder::typed<SipCseqHeader>(msg, "CSeq", SipHeader::Cseq);
    const QString cseqNumber = cseqHeader ? cseqHeader->number : QString();
    auto *via = SipBuilder::typed<SipViaHeader>(msg, "Via", SipHeader::Via);
    switch (sip->transactions->response(via ? via->branch : QString(), cseqMethod, status.toInt())) {
    case SipTransactions::Unmatched:
        SipBuilder::log(QStringLiteral("Out Rx: no transaction for ") + status + ' ' + cseqMethod);
        return;
    case SipTransactions::Repeat:
        // A final answer again: its ACK was lost (RFC 3261 17.1.1.2, 13.2.2.4).
        if (cseqMethod == QLatin1String("INVITE") && first.digitValue() >= 2)
            sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
        return;
    case SipTransactions::First:
        break;
    }
    if (refreshAnswered(msg, status.toInt(), cseqNumber.toInt()))
        return;

    switch (first.digitValue()) {
    case 1:
        if (status == QLatin1String("100")) {
            SipBuilder::log(QStringLiteral("Out RESPONSE Rx: 100 trying"));
            setSipParam(msg);
            d.callFromTag = fromTag;
            d.callToTag = toTag;
        } else if (status == QLatin1String("183")) {
            SipBuilder::log(QStringLiteral("Out RESPONSE Rx: 183 Session Progress"));
            setSipParam(msg);
            d.callFromTag = fromTag;
            d.callToTag = toTag;
            d.cseq = cseqNumber.toInt();
            SdpSession early;
            // Early media that should be encrypted and is not stays unheard.
            if (readSdp(msg, early) && (!d.localIsOffer || d.crypto.takeAnswer(early))) {
                d.earlyMedia = true;
                d.remoteSdp = early;
                takeMedia(early, QStringLiteral("183 "));
                updateMedia();
            }
            emit sip->sessionProgress(d.earlyMedia);
            d.callDirection = CallDirection::Outgoing;
        }
        return;
    case 2:
        if (status != QLatin1String("200"))
            return;
        if (cseqMethod == QLatin1String("REGISTER")) {
            d.registerChallenges = 0;
            sip->grantedExpiry = grantedExpiry(msg);
            sip->startKeepAlive();
            SipBuilder::log(QStringLiteral("REGISTER expires: ") + QString::number(sip->grantedExpiry));
            SipBuilder::log(QStringLiteral("Out RESPONSE Rx: 200 Ok REGISTER"));
            SipBuilder::log(QStringLiteral(" !!! Registered "));
            sip->setRegistered(true, 200);
        } else if (cseqMethod == QLatin1String("INVITE")) {
            SipBuilder::log(QStringLiteral("Out RESPONSE Rx: 200 Ok INVITE"));
            const bool ourCall = callId_ == d.callCallId;
            setSipParam(msg);
            d.callFromTag = fromTag;
            d.callToTag = toTag;
            d.cseq = cseqNumber.toInt();
            learnRoute(msg, false);
            d.inviteChallenges = 0;
            if (ourCall && d.callDirection == CallDirection::Outgoing && d.callState == CallState::Ended) {
                // The callee answered as we hung up: acknowledge and end it.
                sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
                SipRequest *bye = b.disconnectOut();
                sip->sendRequest(bye);
                delete bye;
                return;
            }
            // A 200 OK that cannot carry the call is acknowledged, then ended with BYE.
            const auto endAnswered = [&](const QString &why, CallEnd cause) {
                SipBuilder::log(QStringLiteral("Out Rx: 200 OK INVITE ") + why);
                sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
                d.setLastInviteOk(sip->parser->cloneSipResponse(msg));
                d.callDirection = CallDirection::Outgoing;
                SipRequest *bye = b.disconnectOut();
                sip->setCallState(CallState::Ended);
                sip->sendRequest(bye);
                delete bye;
                emit sip->callEnded(cause, 488, QString());
            };
            SdpSession answer;
            const bool answered = readSdp(msg, answer);
            // Required SRTP and an answer without a key we offered for: the
            // call may not go on in clear; acknowledged, then ended.
            if (d.localIsOffer
                && !(answered ? d.crypto.takeAnswer(answer)
                              : d.crypto.mode != MediaEncryption::Required || d.crypto.active())) {
                endAnswered(QStringLiteral("without the SRTP keys required"), CallEnd::NotEncrypted);
                return;
            }
            if (answered) {
                // An answer naming no format we offered cannot carry the
                // call (RFC 3264 6): acknowledged, then ended.
                if (d.localIsOffer && !answeredCodec(d.localSdp.formats, answer.formats)) {
                    endAnswered(QStringLiteral("with no format we offered"), CallEnd::NoCommonCodec);
                    return;
                }
                d.remoteSdp = answer;
                takeMedia(answer, QStringLiteral("200 OK "));
            }
            // The session timer the 2xx settled (RFC 4028 7.2).
            d.timer = settings.disableSessionTimer
                ? SessionTimer::Outcome()
                : SessionTimer::fromAnswer(msg->getHeaderString(QStringLiteral("Session-Expires"), 1));
            d.peerAllowsUpdate = lists(msg, "Allow", QStringLiteral("UPDATE"));
            d.setLastInviteOk(sip->parser->cloneSipResponse(msg));
            d.callDirection = CallDirection::Outgoing;
            sip->setCallState(CallState::Established);
            SipBuilder::log(QStringLiteral("Tx ACK"));
            sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
            updateMedia();
            restartTimer();
            emit sip->callAnswered();
        }
        return;
    case 3:
        // A redirect is followed once; another ends the call showing it.
        SipBuilder::log(QStringLiteral("code = 3"));
        if (!followRedirect(msg))
            failure(msg, QString());
        return;
    case 4:
        if (status == QLatin1String("422") && retryInterval(msg))
            return;
        if (status == QLatin1String("401") || status == QLatin1String("407")) {
            if (status == QLatin1String("401") && cseqMethod == QLatin1String("REGISTER"))
                registerChallenge(msg);
            else if (cseqMethod == QLatin1String("INVITE"))
                challenge(msg, status == QLatin1String("407"));
            else if (cseqMethod == QLatin1String("REGISTER"))
                failure(msg, QString());
            return;
        }
        if (status == QLatin1String("480"))
            failure(msg, QStringLiteral("480 Temporarily Unavailable"));
        else if (status == QLatin1String("481"))
            failure(msg, QStringLiteral("481 Call transaction does not exist"));
        else if (status == QLatin1String("486"))
            failure(msg, QStringLiteral("486 Busy Here"));
        else if (status == QLatin1String("487"))
            failure(msg, QStringLiteral("487 Request Terminated"));
        else if (status == QLatin1String("488"))
            failure(msg, QStringLiteral("488 Not acceptable here"));
        else
            failure(msg, QString());
        return;
    case 5:
        failure(msg, status == QLatin1String("503") ? QStringLiteral("503 Service Unavailable") : QString());
        return;
    case 6:
        failure(msg, status == QLatin1String("600") ? QStringLiteral("600 Busy Everywhere") : QString());
        return;
    default:
        return;
    }
}

void SipProcessor::setSipParam(SipPacket *msg)
{
    if (auto *from = SipBuilder::typed<SipFromHeader>(msg, "From", SipHeader::From)) {
        fromNum = from->num;
        fromName = from->name;
        fromAddr = from->addr;
        fromAddrIp = from->addrIp;
        fromAddrPort = from->addrPort;
        fromTag = from->tag;
    }
    if (auto *to = SipBuilder::typed<SipToHeader>(msg, "To", SipHeader::To)) {
        toNum = to->num;
        toAddr = to->addr;
        toAddrIp = to->addrIp;
        toAddrPort = to->addrPort;
        toTag = to->tag;
    }
    if (auto *contact = SipBuilder::typed<SipContactHeader>(msg, "Contact", SipHeader::Contact)) {
        contactNum = contact->num;
        contactAddr = contact->addr;
        contactAddrIp = contact->addrIp;
        contactAddrPort = contact->addrPort;
        contactTag = contact->tag;
    }
    if (!SipHeader::logEnabled())
        return;
    const QList<QPair<const char *, QString *>> fields = {
        {" From num: ", &fromNum}, {" From name: ", &fromName}, {" From addr: ", &fromAddr},
        {" From addr ip: ", &fromAddrIp}, {" From addr port: ", &fromAddrPort}, {" From tag: ", &fromTag},
        {" To num: ", &toNum}, {" To addr: ", &toAddr}, {" To addr ip: ", &toAddrIp},
        {" To addr port: ", &toAddrPort}, {" To tag: ", &toTag}, {" Contact num: ", &contactNum},
        {" Contact addr: ", &contactAddr}, {" Contact addr ip: ", &contactAddrIp},
        {" Contact addr port: ", &contactAddrPort}, {" Contact tag: ", &contactTag}};
    for (const auto &field : fields)
        SipBuilder::log(QLatin1String(field.first) + *field.second);
}

namespace {
// The URI inside a name-addr ("<sip:...>;params"), or the value itself.
QString uriOf(const QString &value)
{
    const int open = value.indexOf(QLatin1Char('<'));
    const int close = value.indexOf(QLatin1Char('>'), open + 1);
    if (open >= 0 && close > open)
        return value.mid(open + 1, close - open - 1);
    const int semicolon = value.indexOf(QLatin1Char(';'));
    return (semicolon >= 0 ? value.left(semicolon) : value).trimmed();
}
} // namespace

// Route set and remote target of the dialog (RFC 3261 12.1): the Record-Route
// values, reversed on the caller's side, and the peer's Contact.
void SipProcessor::learnRoute(SipPacket *msg, bool fromRequest)
{
    QStringList routes;
    for (SipHeader *header : qAsConst(msg->headers)) {
        if (header->headerName.compare(QLatin1String("Record-Route"), Qt::CaseInsensitive) != 0)
            continue;
        const QStringList parts = header->headerValue.split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            routes << part.trimmed();
    }
    if (!fromRequest)
        std::reverse(routes.begin(), routes.end());
    d.routeSet = routes;
    const QString contact = msg->getHeaderString(QStringLiteral("Contact"), 1);
    d.remoteTarget = contact.isEmpty() ? QString() : uriOf(contact);
}

bool SipProcessor::refreshAnswered(SipPacket *msg, int code, int cseq)
{
    const bool invite = cseqMethod == QLatin1String("INVITE");
    if (d.refreshCseq < 0 || cseq != d.refreshCseq || callId_ != d.callCallId || d.callState != CallState::Established
        || (!invite && cseqMethod != QLatin1String("UPDATE")))
        return false;
    if (code < 200)
        return true;
    d.refreshCseq = -1;
    if (invite)
        sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
    if (code >= 300) {
        SipBuilder::log(QStringLiteral("Out Rx: session refresh refused, ") + status + ' ' + note);
        // The dialog is gone at the far end (RFC 5057 5.1): so is the call.
        if (code == 481 || code == 408) {
            sip->setCallState(CallState::Ended);
            emit sip->callEnded(CallEnd::Refused, code, status + ' ' + note);
        }
        return true;
    }
    SdpSession answer;
    if (invite && readSdp(msg, answer)) {
        d.remoteSdp = answer;
        takeMedia(answer, QString());
        updateMedia();
    }
    const SessionTimer::Outcome o = SessionTimer::fromAnswer(msg->getHeaderString(QStringLiteral("Session-Expires"), 1));
    d.timer = settings.disableSessionTimer ? SessionTimer::Outcome() : o;
    restartTimer();
    return true;
}

bool SipProcessor::followRedirect(SipPacket *msg)
{
    if (cseqMethod != QLatin1String("INVITE") || (status != QLatin1String("301") && status != QLatin1String("302"))
        || callId_ != d.callCallId || d.callState != CallState::Calling || d.redirects > 0)
        return false;
    const QString target = uriOf(msg->getHeaderString(QStringLiteral("Contact"), 1).section(QLatin1Char(','), 0, 0));
    const QString number = target.mid(4).section(QLatin1Char('@'), 0, 0);
    if (!target.startsWith(QLatin1String("sip:"), Qt::CaseInsensitive) || !target.contains(QLatin1Char('@'))
        || number.isEmpty())
        return false;
    sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
    SipBuilder::log(QStringLiteral("Out Rx: redirected to ") + target);
    // A new call to the Contact (RFC 3261 8.1.3.4): new Call-ID, tag and branch.
    ++d.redirects;
    d.redirectTarget = target;
    d.called = number;
    d.newSession();
    d.earlyMedia = false;
    d.inviteChallenges = 0;
    d.routeSet.clear();
    d.remoteTarget.clear();
    SipRequest *again = b.invite(settings.user, number);
    sip->sendRequest(again);
    delete again;
    emit sip->redirected(number);
    return true;
}

bool SipProcessor::retryInterval(SipPacket *msg)
{
    if (cseqMethod != QLatin1String("INVITE") || callId_ != d.callCallId || d.callState != CallState::Calling
        || settings.disableSessionTimer)
        return false;
    const int interval =
        SessionTimer::retryInterval(msg->getHeaderString(QStringLiteral("Min-SE"), 1), d.requestedInterval);
    if (interval <= d.requestedInterval)
        return false;
    // Asked again with the interval the 422 demands (RFC 4028 6).
    sip->sendReply(b.responseRequest(QStringLiteral("ACK"), msg), msg);
    d.requestedInterval = interval;
    d.cseq = d.cseq + 1;
    SipRequest *again = b.invite(settings.user, d.called, QString(), 0);
    sip->sendRequest(again);
    delete again;
    return true;
}
