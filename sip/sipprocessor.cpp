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
#include "siptransactions.h"
#include "sipviaheader.h"
#include "sipwwwauthenticateheader.h"

#include <QRegularExpression>

#include <memory>

SipProcessor::SipProcessor(SipParser *parser)
    : p(parser), w(parser->mainWindow)
{
    if (!p->sip)
        return;
    SipTransactions *transactions = p->sip->transactions;
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
        p->sip->registered = false;
    if (method != QLatin1String("INVITE") || callId != w->callCallId || p->callState != CallCalling)
        return;
    p->callState = CallEnded;
    w->busyStartSendSignal(QStringLiteral("408 Нет ответа"));
}

// The caller never acknowledged our 200 OK: the call is not up at its end.
void SipProcessor::ackTimedOut(const QString &callId)
{
    if (callId != w->callCallId || p->callState != CallEstablished || p->callDirection != CallIncoming)
        return;
    if (SipRequest *bye = p->disconnectIn()) {
        p->sip->sendRequest(bye);
        delete bye;
    }
    w->busyStartSendSignal(QStringLiteral("408 Нет подтверждения"));
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
            if (contact.contains(QLatin1Char('@') + w->mediaIp))
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
    return ok ? seconds : w->registrTimeout;
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
    auto *cseqHeader = SipParser::typed<SipCseqHeader>(message, "CSeq", SipHeader::Cseq);
    if (cseqHeader)
        p->cseqMethod = cseqHeader->cseqMethod;
    auto *via = SipParser::typed<SipViaHeader>(message, "Via", SipHeader::Via);
    const QString branch = via ? via->branch : QString();
    SipTransactions *transactions = p->sip->transactions;
    if (message->packetType == PacketRequest && p->metod_ == QLatin1String("ACK") && cseqHeader)
        transactions->acknowledged(p->callId_, cseqHeader->number);
    // A request that comes again gets the answer already sent, and nothing more.
    if (message->packetType == PacketRequest && transactions->repeatAnswer(branch, p->metod_)) {
        SipParser::log(QStringLiteral("In REQUEST Rx: ") + p->metod_ + QStringLiteral(" retransmitted"));
        return;
    }
    if (message->packetType == PacketRequest)
        processRequest(message);
    else if (message->packetType == PacketResponse)
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
        const bool ringingIn = !bye && p->callDirection == CallIncoming && p->callState == CallOffered
                               && p->lastInvite;
        const bool answeredIn = !bye && p->callDirection == CallIncoming && p->callState == CallEstablished;
        // Only the call in progress can end (RFC 3261 15.1.2, 9.2); a CANCEL
        // after our 200 OK changes nothing.
        if (otherDialog || p->callId_ != w->callCallId || p->callState < CallCalling || p->callState > CallEstablished
            || (!bye && !ringingIn && !answeredIn)) {
            p->requestResponse(QStringLiteral("481"), QStringLiteral("Call/Transaction Does Not Exist"), msg);
            return;
        }
        if (answeredIn) {
            p->requestResponse(QStringLiteral("200"), QStringLiteral("OK"), msg);
            return;
        }
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

void SipProcessor::failure(SipPacket *msg, const QString &fixedText)
{
    const QString text = fixedText.isEmpty() ? p->status + ' ' + p->note : fixedText;
    if (!fixedText.isEmpty())
        SipParser::log(QStringLiteral("Out Rx: ") + fixedText);
    // A refused REGISTER only leaves us unregistered; the timer tries again.
    if (p->cseqMethod == QLatin1String("REGISTER")) {
        SipParser::log(QStringLiteral("Out Rx: REGISTER refused, ") + text);
        p->sip->registered = false;
        return;
    }
    // ACK is for INVITE alone; a refused BYE or CANCEL ended nothing more.
    if (p->cseqMethod != QLatin1String("INVITE")) {
        SipParser::log(QStringLiteral("Out Rx: ") + p->cseqMethod + QStringLiteral(" refused, ") + text);
        return;
    }
    p->responseRequest(QStringLiteral("ACK"), msg);
    if (p->callId_ != w->callCallId) {
        SipParser::log(QStringLiteral("Out Rx: answer to an old call, ") + p->status);
        return;
    }
    // A failure that arrives after this side ended the call (the 487 to our
    // CANCEL, a 481 to our BYE) must not start the busy tone again.
    if (p->callState == CallEnded) {
        SipParser::log(QStringLiteral("Out Rx: call already ended, ") + p->status);
        return;
    }
    // A refused INVITE ends the call on this side too, or the next caller
    // would be told we are busy.
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
    SipRequest *retry = p->registration(p->fromNum, authorization);
    p->sip->sendRequest(retry);
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
    p->sip->sendRequest(retry);
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
    auto *via = SipParser::typed<SipViaHeader>(msg, "Via", SipHeader::Via);
    switch (p->sip->transactions->response(via ? via->branch : QString(), cseqMethod, status.toInt())) {
    case SipTransactions::Unmatched:
        SipParser::log(QStringLiteral("Out Rx: no transaction for ") + status + ' ' + cseqMethod);
        return;
    case SipTransactions::Repeat:
        // A final answer again: its ACK was lost (RFC 3261 17.1.1.2, 13.2.2.4).
        if (cseqMethod == QLatin1String("INVITE") && first.digitValue() >= 2)
            p->responseRequest(QStringLiteral("ACK"), msg);
        return;
    case SipTransactions::First:
        break;
    }

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
            p->sip->grantedExpiry = grantedExpiry(msg);
            p->sip->startKeepAlive();
            SipParser::log(QStringLiteral("REGISTER expires: ") + QString::number(p->sip->grantedExpiry));
            SipParser::log(QStringLiteral("Out RESPONSE Rx: 200 Ok REGISTER"));
            SipParser::log(QStringLiteral(" !!! Registered "));
            emit w->registeredSignal();
        } else if (cseqMethod == QLatin1String("INVITE")) {
            SipParser::log(QStringLiteral("Out RESPONSE Rx: 200 Ok INVITE"));
            const bool ourCall = p->callId_ == w->callCallId;
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
                p->sip->sendRequest(bye);
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
        // A redirect is not followed: the call ends showing it.
        SipParser::log(QStringLiteral("code = 3"));
        failure(msg, QString());
        return;
    case 4:
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
