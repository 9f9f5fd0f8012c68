#include "sipprocessor.h"

#include "mainwindow.h"
#include "sip.h"
#include "sipcontentheader.h"
#include "sipcseqheader.h"
#include "sipfromheader.h"
#include "sipparser.h"
#include "sipproxyauthenticateheader.h"
#include "siprequest.h"
#include "siptoheader.h"
#include "sipwwwauthenticateheader.h"

#include <memory>

SipProcessor::SipProcessor(SipParser *parser)
    : p(parser), w(parser->mainWindow)
{
}

void SipProcessor::processSip(SipPacket *message)
{
    std::unique_ptr<SipPacket> owned(message);
    if (!message)
        return;
    p->metod_ = message->method;
    SipParser::log(QStringLiteral("!!! SipParser processSip metod_: ") + p->metod_);
    if (message->getHeader(QStringLiteral("Call-ID"))) {
        p->callId_ = message->getHeaderString(QStringLiteral("Call-ID"), 1);
        SipParser::log(QStringLiteral("callId_ ") + p->callId_);
    }
    if (auto *cseqHeader = SipParser::typed<SipCseqHeader>(message, "CSeq", SipHeader::Cseq))
        p->cseqMethod = cseqHeader->cseqMethod;
    if (message->packetType == 1)
        processRequest(message);
    else if (message->packetType == 2)
        processResponse(message);
}

void SipProcessor::takeMedia(SipContentHeader *body, const QString &label, const QString &codec1Label)
{
    w->mediaIp_ = body->sdpIp;
    w->mediaPort_ = QString::number(body->sdpPort.toInt());
    if (label.isEmpty())
        return;
    SipParser::log(label + QStringLiteral("mediaIp_: ") + w->mediaIp_);
    SipParser::log(label + QStringLiteral("mediaPort_: ") + w->mediaPort_);
    SipParser::log(label + QStringLiteral("Codec0()_: ") + body->codec[0]);
    SipParser::log(label + codec1Label + body->codec[1]);
}

void SipProcessor::incomingInvite(SipPacket *msg)
{
    auto *cseqHeader = SipParser::typed<SipCseqHeader>(msg, "CSeq", SipHeader::Cseq);
    const QString number = cseqHeader ? cseqHeader->number : QString();
    const bool sameCall = !p->callId_.isEmpty() && p->callId_ == w->callCallId;
    const bool inProgress = p->callState >= CallCalling && p->callState <= CallEstablished;

    // One call at a time: another caller is told we are busy, and the call in
    // progress keeps its identifiers.
    if (inProgress && !sameCall) {
        SipParser::log(QStringLiteral("In REQUEST Rx: INVITE during a call, busy"));
        p->requestResponse(QStringLiteral("486"), QStringLiteral("Busy Here"), msg);
        return;
    }
    if (inProgress && sameCall) {
        auto *toHeader = SipParser::typed<SipToHeader>(msg, "To", SipHeader::To);
        auto *offered = SipParser::typed<SipCseqHeader>(p->lastInvite, "CSeq", SipHeader::Cseq);
        const bool retransmission = p->callDirection == CallIncoming && offered && offered->number == number
                                    && (!toHeader || toHeader->tag.isEmpty());
        if (retransmission && p->callState == CallOffered) {
            // A provisional answer was lost: repeat it with the same To tag.
            SipParser::log(QStringLiteral("In REQUEST Rx: INVITE retransmitted"));
            p->reply(QStringLiteral("100"), QStringLiteral("Trying"), msg, SipParser::ToTagRule::Current);
            p->reply(QStringLiteral("180"), QStringLiteral("Ringing"), msg, SipParser::ToTagRule::Current);
            return;
        }
        if (retransmission && p->callState == CallEstablished) {
            // Our 200 OK was lost: send it again.
            if (SipPacket *ok = p->answer200Ok())
                p->sendMessage(ok, p->lastInvite);
            return;
        }
        if (p->callState == CallEstablished && toHeader && !toHeader->tag.isEmpty()) {
            // A re-INVITE refreshes the session or moves the media; the call
            // goes on as it was.
            SipParser::log(QStringLiteral("In REQUEST Rx: re-INVITE"));
            if (auto *body = SipParser::typed<SipContentHeader>(msg, "Content", SipHeader::Content))
                takeMedia(body, QString(), QString());
            SipPacket *stored = p->lastInvite;
            p->lastInvite = p->cloneSipRequest(msg);
            const QString ourTag = w->callToTag;
            w->callToTag = toHeader->tag;
            SipPacket *ok = p->answer200Ok();
            w->callToTag = ourTag;
            delete p->lastInvite;
            p->lastInvite = stored;
            if (ok)
                p->sendMessage(ok, msg);
            return;
        }
    }

    SipParser::log(QStringLiteral("In REQUEST Rx: INVITE"));
    p->callDirection = CallIncoming;
    p->callState = CallOffered;
    p->setSipParam(msg);
    w->callFromTag = p->fromTag;
    w->callToTag = p->toTag;
    w->callCallId = p->callId_;
    w->cseq = number.toInt();
    if (auto *body = SipParser::typed<SipContentHeader>(msg, "Content", SipHeader::Content))
        takeMedia(body, QStringLiteral("INVITE "), QStringLiteral("Codec1()_: "));
    delete p->lastInvite;
    p->lastInvite = p->cloneSipRequest(msg);
    p->learnRoute(msg, true);
    p->response(QStringLiteral("100"), QStringLiteral("Trying"), msg);
    p->response(QStringLiteral("180"), QStringLiteral("Ringing"), msg);
    w->called = p->fromNum;
    emit w->dialogWinShowSignal();
}

void SipProcessor::processRequest(SipPacket *msg)
{
    const QString &metod = p->metod_;
    SipParser::log(QStringLiteral("!!! REQUEST"));
    SipParser::log(QStringLiteral(" metod_: ") + metod);
    // A BYE or CANCEL of some other dialog (say, of a caller we turned away as
    // busy) must not end the call in progress.
    const bool otherDialog = p->callState >= CallCalling && p->callState <= CallEstablished
                             && p->callId_ != w->callCallId;
    if (metod == QLatin1String("INVITE")) {
        incomingInvite(msg);
    } else if (metod == QLatin1String("OPTIONS")) {
        SipParser::log(QStringLiteral("In REQUEST Rx: OPTIONS"));
        p->requestResponse(QStringLiteral("200"), QStringLiteral("OK"), msg);
    } else if (metod == QLatin1String("BYE") || metod == QLatin1String("CANCEL")) {
        const bool bye = metod == QLatin1String("BYE");
        SipParser::log(bye ? QStringLiteral("In REQUEST Rx: BYE") : QStringLiteral("In REQUEST Rx: CANCEL"));
        if (otherDialog) {
            p->requestResponse(QStringLiteral("481"), QStringLiteral("Call/Transaction Does Not Exist"), msg);
            return;
        }
        const bool ringingIn = !bye && p->callDirection == CallIncoming && p->callState == CallOffered
                               && p->lastInvite;
        p->callState = CallEnded;
        p->requestResponse(QStringLiteral("200"), QStringLiteral("OK"), msg);
        // The cancelled INVITE still needs its final answer (RFC 3261 9.2);
        // without it the caller and every proxy between wait for their timers.
        if (ringingIn)
            p->reply(QStringLiteral("487"), QStringLiteral("Request Terminated"), p->lastInvite,
                     SipParser::ToTagRule::Current);
        w->busyStartSendSignal(bye ? QStringLiteral("Bye") : QStringLiteral("Cancel"));
    } else if (metod == QLatin1String("ACK")) {
        SipParser::log(QStringLiteral("In REQUEST Rx: ACK"));
    } else if (!metod.isEmpty()) {
        // Every request gets a final answer, or the peer retransmits it for
        // 32 s and may end the call (RFC 5057).
        p->requestResponse(QStringLiteral("501"), QStringLiteral("Not Implemented"), msg);
    }
}

void SipProcessor::failure(SipPacket *msg, const QString &text)
{
    if (!text.isEmpty() && text != p->status + ' ' + p->note)
        SipParser::log(QStringLiteral("Out Rx: ") + text);
    p->responseRequest(QStringLiteral("ACK"), msg);
    // A failure that arrives after this side ended the call (the 487 to our
    // CANCEL, a 481 to our BYE) must not start the busy tone again.
    if (p->callState == CallEnded) {
        SipParser::log(QStringLiteral("Out Rx: call already ended, ") + p->status);
        return;
    }
    // A refused INVITE ends the call on this side too, or the next caller
    // would be told we are busy.
    if (p->cseqMethod == QLatin1String("INVITE") && p->callId_ == w->callCallId)
        p->callState = CallEnded;
    w->busyStartSendSignal(text);
}

void SipProcessor::registerChallenge(SipPacket *msg)
{
    SipParser::log(QStringLiteral("REGISTER status: ") + p->status);
    SipParser::log(QStringLiteral("Out RESPONSE Rx: 401 Unauthorized REGISTER"));
    if (auto *from = SipParser::typed<SipFromHeader>(msg, "From", SipHeader::From))
        p->fromNum = from->num;
    auto *challenge =
        SipParser::typed<SipWwwAuthenticateHeader>(msg, "WWW-Authenticate", SipHeader::WwwAuthenticate);
    if (!challenge)
        return;
    const QString realmAuth = challenge->realm;
    const QString nonceAuth = challenge->nonce;
    const QString uriAuth = challenge->uri.isEmpty() ? challenge->domain : challenge->uri;
    SipParser::log(QStringLiteral(" realmAuth: ") + realmAuth);
    SipParser::log(QStringLiteral(" nonceAuth: ") + nonceAuth);
    SipParser::log(QStringLiteral(" uriAuth: ") + uriAuth);
    SipParser::log(QStringLiteral(" qopAuth: ") + challenge->qop);
    SipParser::log(QStringLiteral(" opaqueAuth: ") + challenge->opaque);
    if (realmAuth.isEmpty() || nonceAuth.isEmpty())
        return;
    // A wrong password is not retried forever: the next timer expiry starts over.
    if (p->registerChallenges >= SipParser::maxChallenges) {
        SipParser::log(QStringLiteral("REGISTER challenged again, credentials refused; waiting for the timer"));
        return;
    }
    ++p->registerChallenges;
    const QString uri = p->digestUri(uriAuth);
    SipParser::log(QStringLiteral("uri ") + uri);
    const QString authorization =
        p->digestAuthorization(QStringLiteral("REGISTER"), realmAuth, nonceAuth, uri, QString(), QString());
    SipParser::log(QStringLiteral("sipAuthenticateResponse Authorization: ") + authorization);
    w->cseq = w->cseq + 1;
    SipRequest *retry = p->registration(p->fromNum, authorization);
    p->sip->send(retry->toString());
    delete retry;
}

void SipProcessor::challenge(SipPacket *msg, bool proxy)
{
    SipParser::log(QStringLiteral("INVITE status: ") + p->status);
    p->setSipParam(msg);
    SipParser::log(proxy ? QStringLiteral("Out RESPONSE Rx: 407 Unauthorized INVITE")
                         : QStringLiteral("Out RESPONSE Rx: 401 Unauthorized INVITE"));
    // A challenge to an INVITE the user already gave up is only acknowledged.
    if (p->callState == CallEnded) {
        p->responseRequest(QStringLiteral("ACK"), msg);
        return;
    }
    if (p->inviteChallenges >= SipParser::maxChallenges) {
        SipParser::log(QStringLiteral("INVITE challenged again, credentials refused"));
        p->responseRequest(QStringLiteral("ACK"), msg);
        p->callState = CallEnded;
        w->busyStartSendSignal(p->status + ' ' + p->note);
        return;
    }
    ++p->inviteChallenges;
    SipChallengeHeader *header = proxy
        ? static_cast<SipChallengeHeader *>(
              SipParser::typed<SipProxyAuthenticateHeader>(msg, "Proxy-Authenticate", SipHeader::ProxyAuthenticate))
        : SipParser::typed<SipWwwAuthenticateHeader>(msg, "WWW-Authenticate", SipHeader::WwwAuthenticate);
    QString authorization;
    if (header) {
        const QString realm = header->realm;
        const QString nonce = header->nonce;
        const QString uriAuth = header->uri.isEmpty() ? header->domain : header->uri;
        const QString qop = header->qop;
        SipParser::log(QStringLiteral("sipAuthenticateResponse realmAuth: ") + realm);
        SipParser::log(QStringLiteral("sipAuthenticateResponse nonceAuth: ") + nonce);
        SipParser::log(QStringLiteral("sipAuthenticateResponse uriAuth: ") + uriAuth);
        SipParser::log(QStringLiteral("sipAuthenticateResponse qopAuth: ") + qop);
        SipParser::log(QStringLiteral("sipAuthenticateResponse opaqueAuth: ") + header->opaque);
        if (!realm.isEmpty() && !nonce.isEmpty()) {
            const QString uri = p->digestUri(uriAuth);
            SipParser::log(QStringLiteral("sipAuthenticateResponse uri: ") + uri);
            authorization =
                p->digestAuthorization(QStringLiteral("INVITE"), realm, nonce, uri, qop, header->opaque);
            SipParser::log((qop == QLatin1String("auth") ? QStringLiteral("sipAuthenticateResponse Authorization(2): ")
                                                         : QStringLiteral("sipAuthenticateResponse Authorization(1): "))
                           + authorization);
        }
    }
    p->responseRequest(QStringLiteral("ACK"), msg);
    w->cseq = w->cseq + 1;
    const int kept = p->inviteChallenges;
    SipRequest *retry = p->invite(p->fromNum, p->toNum, authorization, proxy ? 2 : 1);
    p->inviteChallenges = kept;
    p->sip->send(retry->toString());
    delete retry;
}

void SipProcessor::processResponse(SipPacket *msg)
{
    p->status = msg->statusCode;
    p->note = msg->reasonPhrase;
    const QString &status = p->status;
    SipParser::log(QStringLiteral("!!! RESPONSE"));
    SipParser::log(QStringLiteral(" status: ") + status);
    SipParser::log(QStringLiteral(" note: ") + p->note);
    if (status.isEmpty())
        return;
    const QChar first = status.at(0);
    if (!first.isDigit() || first.digitValue() > 6)
        return;
    auto *cseqHeader = SipParser::typed<SipCseqHeader>(msg, "CSeq", SipHeader::Cseq);
    const QString cseqNumber = cseqHeader ? cseqHeader->number : QString();
    auto *body = SipParser::typed<SipContentHeader>(msg, "Content", SipHeader::Content);
    const QString &cseqMethod = p->cseqMethod;

    switch (first.digitValue()) {
    case 1:
        if (status == QLatin1String("100")) {
            SipParser::log(QStringLiteral("Out RESPONSE Rx: 100 trying"));
            p->setSipParam(msg);
            w->callFromTag = p->fromTag;
            w->callToTag = p->toTag;
        } else if (status == QLatin1String("183")) {
            SipParser::log(QStringLiteral("Out RESPONSE Rx: 183 Session Progress"));
            p->setSipParam(msg);
            w->callFromTag = p->fromTag;
            w->callToTag = p->toTag;
            w->cseq = cseqNumber.toInt();
            if (body) {
                w->earlyMedia = true;
                takeMedia(body, QStringLiteral("183 "), QStringLiteral("odec1()_: "));
            }
            emit w->rx183Signal();
            p->callDirection = CallOutgoing;
        }
        return;
    case 2:
        if (status != QLatin1String("200"))
            return;
        if (cseqMethod == QLatin1String("REGISTER")) {
            p->sip->registered = true;
            p->registerChallenges = 0;
            SipParser::log(QStringLiteral("Out RESPONSE Rx: 200 Ok REGISTER"));
            SipParser::log(QStringLiteral(" !!! Registered "));
            emit w->registeredSignal();
        } else if (cseqMethod == QLatin1String("INVITE")) {
            SipParser::log(QStringLiteral("Out RESPONSE Rx: 200 Ok INVITE"));
            const bool ourCall = p->callId_ == w->callCallId;
            if (ourCall && p->callDirection == CallOutgoing && p->callState == CallEstablished) {
                // A retransmitted 200: acknowledge it again, the call is up.
                p->responseRequest(QStringLiteral("ACK"), msg);
                return;
            }
            p->setSipParam(msg);
            w->callFromTag = p->fromTag;
            w->callToTag = p->toTag;
            w->cseq = cseqNumber.toInt();
            p->learnRoute(msg, false);
            p->inviteChallenges = 0;
            if (ourCall && p->callDirection == CallOutgoing && p->callState == CallEnded) {
                // The callee answered as we hung up: acknowledge and end it.
                p->responseRequest(QStringLiteral("ACK"), msg);
                SipRequest *bye = p->disconnectOut();
                p->sip->send(bye->toString());
                delete bye;
                return;
            }
            if (body)
                takeMedia(body, QStringLiteral("200 OK "), QStringLiteral("Codec1()_: "));
            delete p->lastInviteOk;
            p->lastInviteOk = p->cloneSipResponse(msg);
            p->callDirection = CallOutgoing;
            p->callState = CallEstablished;
            SipParser::log(QStringLiteral("Tx ACK"));
            p->responseRequest(QStringLiteral("ACK"), msg);
            emit w->audioStartSignal();
        }
        return;
    case 3:
        SipParser::log(QStringLiteral("code = 3"));
        return;
    case 4:
        if (status == QLatin1String("401") || status == QLatin1String("407")) {
            if (status == QLatin1String("401") && cseqMethod == QLatin1String("REGISTER"))
                registerChallenge(msg);
            else if (cseqMethod == QLatin1String("INVITE"))
                challenge(msg, status == QLatin1String("407"));
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
            failure(msg, status + ' ' + p->note);
        return;
    case 5:
        if (status == QLatin1String("503"))
            failure(msg, QStringLiteral("503 Service Unavailable"));
        return;
    case 6:
        if (status == QLatin1String("600"))
            failure(msg, QStringLiteral("600 Busy Everywhere"));
        return;
    default:
        return;
    }
}
