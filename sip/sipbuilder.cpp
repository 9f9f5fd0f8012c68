#include "sipbuilder.h"

#include "accountsettings.h"
#include "codecsettings.h"
#include "networkenvironment.h"
#include "sessiontimer.h"
#include "sipcontactheader.h"
#include "sipcontentheader.h"
#include "sipcseqheader.h"
#include "sipdialog.h"
#include "sipdigest.h"
#include "sipfromheader.h"
#include "sipmessageparser.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "siptoheader.h"
#include "siptransport.h"
#include "siptransportfactory.h"
#include "sipviaheader.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QRegularExpression>

SipBuilder::SipBuilder(SipMessageParser *parser, const AccountSettings &settings, const NetworkEnvironment &network,
                       SipDialog &dialog)
    : parser(parser), settings(settings), network(network), dialog(dialog)
{
}

namespace {

// Branches, tags and Call-IDs draw from this alphabet (no "G" among the capitals).
const QString tagAlphabet = QStringLiteral("qwertyuiopasdfghjklzxcvbnm1234567890QWERTYUIOPASDFHJKLZXCVBNM");
// The methods the phone answers as a user agent server (RFC 3261 20.5).
const QString allowList = QStringLiteral("ACK, BYE, CANCEL, INFO, INVITE, OPTIONS, UPDATE");
const QString userAgentName = QStringLiteral("Sorvanto");

// Identifiers must differ between runs: servers take a repeated branch or
// Call-ID for a retransmission of an old transaction. The global generator is
// seeded from the system.
QString randomText(int length, const QString &alphabet)
{
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += alphabet.at(QRandomGenerator::global()->bounded(alphabet.size()));
    return text;
}

void deleteAll(SipPacket *msg, const QString &name)
{
    while (msg->getHeader(name))
        msg->deleteHeader(name, 1);
}

} // namespace

SipHeader *SipBuilder::typedHeader(SipPacket *msg, const char *name, int type)
{
    SipHeader *header = msg ? msg->getHeader(QLatin1String(name)) : nullptr;
    return header && header->headerType == type ? header : nullptr;
}

void SipBuilder::log(const QString &text)
{
    if (SipHeader::logEnabled())
        qDebug().noquote() << text;
}

QString SipBuilder::tag()
{
    return randomText(8, tagAlphabet);
}

QString SipBuilder::branch()
{
    return QStringLiteral("z9hG4bK") + randomText(34, tagAlphabet);
}

QString SipBuilder::newCallId()
{
    return randomText(32, tagAlphabet);
}

QString SipBuilder::cnonce()
{
    return randomText(8, QStringLiteral("abcdef1234567890"));
}

QString SipBuilder::digestUri(const QString &uriAuth) const
{
    return QStringLiteral("sip:") + (uriAuth.isEmpty() ? settings.domain : uriAuth);
}

// The Authorization value for a challenge (RFC 2617): with qop "auth" it
// carries a new cnonce and the first nonce count. The hash takes the login it
// names, as the server does, not the user part of our address.
QString SipBuilder::digestAuthorization(const QString &method, const QString &realm, const QString &nonce,
                                       const QString &uri, const QString &qop, const QString &opaque) const
{
    QString value = QStringLiteral("Digest username=\"%1\", realm=\"%2\", nonce=\"%3\", uri=\"%4\", ")
                        .arg(settings.login, realm, nonce, uri);
    if (qop != QLatin1String("auth")) {
    const QString response = digestResponse(method, settings.login, settings.password, realm, uri, nonce);
        return value + QStringLiteral("response=\"%1\", algorithm=MD5\r\n").arg(response);
    }
    const QString clientNonce = cnonce();
    const QString nc = QStringLiteral("00000001");
    const QString response =
        digestResponseAuth(method, settings.login, settings.password, realm, uri, nonce, clientNonce, nc, qop);
    value += QStringLiteral("response=\"%1\", algorithm=MD5, qop=%2, cnonce=\"%3\", nc=%4")
                 .arg(response, qop, clientNonce, nc);
    if (!opaque.isEmpty())
        value += QStringLiteral(", opaque=\"%1\"").arg(opaque);
    return value + QStringLiteral("\r\n");
}

// Our offer, or the answer to the far end's last offer (RFC 3264), with the
// dialog's origin one version up; `repeat` writes the last one again.
void SipBuilder::addSdp(SipPacket *msg, bool answer, bool repeat)
{
    if (!repeat || dialog.localSdp.origin.sessionId == 0) {
        dialog.sdpOrigin = dialog.sdpOrigin.sessionId == 0 ? SdpOrigin::newSession(settings.mediaIp)
                                                            : dialog.sdpOrigin.next();
        const int port = network.getRTPPort().toInt();
        // An INVITE without an offer gets our offer in its 200 OK.
        const bool offer = !answer || !dialog.peerOffered;
        // A new description within a call names the codec in use first.
        SdpSession sdp = offer ? SdpSession::offer(dialog.sdpOrigin, port, enabledFormats(settings), settings.mediaIp,
                                                   dialog.media.codec)
                               : SdpSession::answer(dialog.remoteSdp, enabledFormats(settings), dialog.media.codec);
        if (!offer) {
            sdp.origin = dialog.sdpOrigin;
            sdp.connectionAddress = settings.mediaIp;
            sdp.mediaPort = port;
            sdp.ptime = 20;
        }
        if (!network.stunIpM.isEmpty())
            sdp.mediaConnectionAddress = network.stunIpM;
        // SRTP keys: fresh in each offer and answer (the far end's offer was
        // checked for them before the call rang).
        dialog.crypto.mode = mediaEncryption(settings.encryptMedia);
        if (offer)
            dialog.crypto.addToOffer(sdp);
        else
            dialog.crypto.answerOffer(dialog.remoteSdp, sdp);
        if (dialog.crypto.mode != MediaEncryption::Off && settings.transport != QLatin1String("TLS"))
            qWarning().noquote() << "SRTP keys in SDP over" << settings.transport
                                 << "are readable on the network: only TLS signalling keeps them secret";
        dialog.localSdp = sdp;
        dialog.localIsOffer = offer;
    }
    // The serialiser ends the body with its own CR LF.
    msg->content = dialog.localSdp.toText().chopped(2);
}

int SipBuilder::attachSdp(SipPacket *msg, bool answer, bool repeat)
{
    addSdp(msg, answer, repeat);
    const int length = msg->content.length() + 2;
    msg->addContentLength(length);
    msg->addHeader(QStringLiteral("Content"), msg->content);
    return length;
}

void SipBuilder::addRoutes(SipPacket *msg)
{
    for (const QString &route : qAsConst(dialog.routeSet))
        msg->addHeader(QStringLiteral("Route"), route);
}

QString SipBuilder::transportName() const
{
    return SipTransport::viaName(transport ? transport->kind() : SipTransport::Kind::Udp);
}

// The request line writes scheme, user, host and port; a request to the
// remote target keeps its parameters too (RFC 3261 12.2.1.1): its transport,
// or the proxy would send the request by UDP, and a GRUU's "gr", without
// which the registrar finds no one. Headers ("?...") have no place there.
QString SipBuilder::uriParameters(const QString &uri)
{
    const int host = uri.indexOf(QLatin1Char('@')) + 1;
    const int from = uri.indexOf(QLatin1Char(';'), host);
    if (from < 0)
        return QString();
    const int headers = uri.indexOf(QLatin1Char('?'), from);
    return uri.mid(from, headers < 0 ? -1 : headers - from);
}

QString SipBuilder::serverPort() const
{
    const SipTransport::Kind kind = transport ? transport->kind() : SipTransport::Kind::Udp;
    return kind == SipTransport::Kind::Udp ? settings.sipServerPort
                                           : QString::number(sipServerPort(kind, settings.sipServerPort));
}

QString SipBuilder::ownHost() const
{
    const QString address = transport ? transport->localAddress() : QString();
    return address.isEmpty() ? settings.mediaIp : address;
}

QString SipBuilder::ownPort() const
{
    const quint16 port = transport && transport->isReliable() ? transport->localPort() : 0;
    return port ? QString::number(port) : settings.sipServerPort;
}

// A request of ours: Via and Contact at the media address, From and To in
// the account's domain, every port the server's.
SipBuilder::Headers SipBuilder::ours(const QString &user, const QString &peer, const QString &branchValue,
                                  const QString &fromTag, const QString &toTag, const QString &callId,
                                  int cseq, const QString &method) const
{
    const QString &port = settings.sipServerPort;
    Headers d;
    d.via = {QString(), ownHost(), ownPort(), branchValue, true};
    d.from = {user, settings.domain, port, fromTag, true};
    d.to = {peer, settings.domain, port, toTag, true};
    d.callId = callId;
    d.hasCallId = true;
    d.cseq = QString::number(cseq);
    d.method = method;
    d.hasCseq = true;
    d.contact = {user, ownHost(), ownPort(), QString(), true};
    return d;
}

// The dialog of the stored INVITE as its callee sees it: the caller's Via,
// From and CSeq, the INVITE's To with our tag.
SipBuilder::Headers SipBuilder::invited() const
{
    Headers d;
    d.viaSource = dialog.lastInvite;
    if (auto *from = typed<SipFromHeader>(dialog.lastInvite, "From", SipHeader::From))
        d.from = {from->num, from->addrIp, from->addrPort, from->tag, true};
    if (auto *to = typed<SipToHeader>(dialog.lastInvite, "To", SipHeader::To))
        d.to = {to->num, to->addrIp, to->addrPort, dialog.callToTag, true};
    d.callId = dialog.lastInvite->getHeaderString(QStringLiteral("Call-ID"), 1);
    d.hasCallId = true;
    if (auto *cseq = typed<SipCseqHeader>(dialog.lastInvite, "CSeq", SipHeader::Cseq)) {
    d.cseq = cseq->number;
        d.method = cseq->cseqMethod;
        d.hasCseq = true;
    }
    d.contact = {settings.user, ownHost(), ownPort(), QString(), true};
    return d;
}

void SipBuilder::addDialog(SipPacket *msg, const Headers &d, std::initializer_list<Field> order) const
{
    for (Field field : order) {
    switch (field) {
    case Field::Via:
            if (d.viaSource)
                addViaList(msg, d.viaSource);
            else if (d.via.present)
                msg->addVia(d.via.host, d.via.port, d.via.tag, transportName());
            break;
        case Field::MaxForwards: msg->addMaxForwards(dialog.maxForwards); break;
        case Field::From:
            if (d.from.present)
                msg->addFrom(d.from.user, d.from.host, d.from.port, d.from.tag);
            break;
        case Field::To:
            if (d.to.present)
                msg->addTo(d.to.user, d.to.host, d.to.port, d.to.tag);
            break;
        case Field::CallId:
            if (d.hasCallId)
                msg->addCallId(d.callId);
            break;
        case Field::CSeq:
            if (d.hasCseq)
                msg->addCSeq(d.cseq, d.method);
            break;
        case Field::Contact:
            msg->addContact(d.contact.user, d.contact.host, d.contact.port, d.contact.tag, transportName());
            break;
        }
    }
}

SipRequest *SipBuilder::registration(const QString &user)
{
    dialog.regBranch = branch();
    dialog.regFromTag = tag();
    dialog.regToTag.clear();
    dialog.regCallId = newCallId();
    dialog.regCseq = 1;
    return registerRequest(user, nullptr);
}

// An authorised retry is a new transaction (RFC 3261 8.1.3.5): new branch,
// next CSeq, the same Call-ID and tags.
SipRequest *SipBuilder::registration(const QString &user, const QString &authorization)
{
    dialog.regBranch = branch();
    ++dialog.regCseq;
    return registerRequest(user, &authorization);
}

// A retry (credentials given, even empty ones) writes Allow before them.
SipRequest *SipBuilder::registerRequest(const QString &user, const QString *authorization)
{
    // A registrar serving a domain by name is asked for that domain (RFC
    // 3261 10.2); the request still goes to the server as the next hop.
    const QString uri = ownDomain() ? QStringLiteral("sip:") + settings.domain
                                    : QStringLiteral("sip:") + user + '@' + settings.sipServerIp + ':' + serverPort();
    auto *msg = new SipRequest(parser, QStringLiteral("REGISTER"), uri, QString());
    addDialog(msg, ours(user, user, dialog.regBranch, dialog.regFromTag, dialog.regToTag, dialog.regCallId, dialog.regCseq,
                        QStringLiteral("REGISTER")),
              {Field::Via, Field::From, Field::To, Field::CallId, Field::Contact, Field::CSeq, Field::MaxForwards});
    msg->addHeaderKeyValue(QStringLiteral("Expires"), QString::number(settings.registrTimeout));
    if (!authorization)
        msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addAllow(allowList);
    if (authorization) {
    if (!authorization->isEmpty())
            msg->addHeader(QStringLiteral("Authorization"), *authorization);
        msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    }
    msg->addContentLength(0);
    log((authorization ? QStringLiteral("!!! REGISTER authorize: ") : QStringLiteral("!!! REGISTER unauthorize: "))
          + msg->toString());
    return msg;
}

SipRequest *SipBuilder::invite(const QString &user, const QString &number)
{
    dialog.callBranch = branch();
    dialog.callFromTag = tag();
    dialog.callToTag.clear();
    dialog.callCallId = newCallId();
    return inviteRequest(user, number, nullptr, 0);
}

// The CSeq was advanced by the challenge's processing.
SipRequest *SipBuilder::invite(const QString &user, const QString &number, const QString &authorization, int kind)
{
    dialog.callBranch = branch();
    return inviteRequest(user, number, &authorization, kind);
}

// A retry (credentials given) writes Content-Type and Allow before them.
SipRequest *SipBuilder::inviteRequest(const QString &user, const QString &number, const QString *authorization,
                                     int kind)
{
    const QString &port = settings.sipServerPort;
    QString uri = QStringLiteral("sip:") + number + '@' + (ownDomain() ? settings.domain : settings.sipServerIp);
    if (!ownDomain() && !port.isEmpty() && port != QLatin1String("5060"))
        uri += ':' + port;
    // A redirect names the target itself.
    if (!dialog.redirectTarget.isEmpty())
        uri = dialog.redirectTarget;
    dialog.requestUri = uri;
    auto *msg = new SipRequest(parser, QStringLiteral("INVITE"), uri, QString());
    addDialog(msg, ours(user, number, dialog.callBranch, dialog.callFromTag, dialog.callToTag, dialog.callCallId, dialog.cseq,
                        QStringLiteral("INVITE")),
              {Field::Via, Field::MaxForwards, Field::From, Field::To, Field::CallId, Field::CSeq, Field::Contact});
    if (!authorization) {
    msg->addAllow(allowList);
        msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
        msg->addContentType(QStringLiteral("application/sdp"));
    } else {
    msg->addContentType(QStringLiteral("application/sdp"));
        msg->addAllow(allowList);
        if (!authorization->isEmpty())
            msg->addHeader(kind == 1 ? QStringLiteral("Authorization") : QStringLiteral("Proxy-Authorization"),
                           *authorization);
        msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    }
    if (!supportedList().isEmpty()) {
        msg->addHeaderKeyValue(QStringLiteral("Supported"), supportedList());
        msg->addHeaderKeyValue(QStringLiteral("Session-Expires"), QString::number(dialog.requestedInterval));
    }
    // A retry with credentials repeats the offer the challenge stopped.
    const int length = attachSdp(msg, false, authorization != nullptr);
    const QString label = authorization ? QStringLiteral("!!! INVITE authorize: ")
                                        : QStringLiteral("!!! INVITE unauthorize: ");
    log(label + QStringLiteral("len ") + QString::number(length));
    log(label + msg->toString());
    return msg;
}

SipResponse *SipBuilder::newResponse(const QString &code, const QString &reason)
{
    auto *msg = new SipResponse(parser);
    msg->packetType = PacketResponse;
    msg->statusCode = code;
    msg->reasonPhrase = reason;
    return msg;
}

SipResponse *SipBuilder::answer200Ok(bool repeat)
{
    if (!dialog.lastInvite)
        return nullptr;
    SipResponse *msg = newResponse(QStringLiteral("200"), QStringLiteral("OK"));
    const Headers d = invited();
    addDialog(msg, d, {Field::Via, Field::From, Field::To, Field::CallId, Field::CSeq});
    // The callee copies Record-Route into its 2xx so that the caller's ACK
    // and BYE can pass a record-routing proxy (RFC 3261 12.1.1).
    for (SipHeader *header : qAsConst(dialog.lastInvite->headers))
        if (header->headerName.compare(QLatin1String("Record-Route"), Qt::CaseInsensitive) == 0)
            msg->addHeader(QStringLiteral("Record-Route"), header->headerValue);
    addDialog(msg, d, {Field::Contact});
    msg->addContentType(QStringLiteral("application/sdp"));
    addCapabilities(msg);
    addLines(msg, timerLines());
    msg->addMaxForwards(dialog.maxForwards);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    const int length = attachSdp(msg, true, repeat);
    log(QStringLiteral("!!! ANSWER 200 OK: len ") + QString::number(length));
    log(QStringLiteral("!!! ANSWER 200 OK: ") + msg->toString());
    return msg;
}

SipResponse *SipBuilder::busyIn()
{
    if (!dialog.lastInvite)
        return nullptr;
    SipResponse *msg = newResponse(QStringLiteral("486"), QStringLiteral("Busy Here"));
    const Headers d = invited();
    addDialog(msg, d, {Field::Via, Field::From, Field::To, Field::CallId, Field::CSeq});
    msg->addAllow(allowList);
    msg->addContentLength(0);
    log(QStringLiteral("!!! 486 Busy Here(busyIn): ") + msg->toString());
    return msg;
}

// CANCEL and BYE: the dialog block, Max-Forwards, the route set on a BYE.
SipRequest *SipBuilder::dialogRequest(const QString &uri, const Headers &d, const QString &logLabel)
{
    auto *msg = new SipRequest(parser, d.method, uri, uriParameters(uri));
    addDialog(msg, d, {Field::Via, Field::From, Field::To, Field::CallId, Field::CSeq, Field::MaxForwards});
    if (d.method == QLatin1String("BYE") && !dialog.remoteTarget.isEmpty())
        addRoutes(msg);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentLength(0);
    log(logLabel + msg->toString());
    return msg;
}

// Behind a record-routing proxy the BYE goes to the remote target with the
// route set, or the proxy cannot route it (RFC 3261 12.2.1.1).
QString SipBuilder::byeUri() const
{
    return dialog.routeSet.isEmpty() || dialog.remoteTarget.isEmpty()
        ? QStringLiteral("sip:") + dialog.called + '@' + settings.sipServerIp + ':' + settings.sipServerPort : dialog.remoteTarget;
}

// A CANCEL names the Request-URI of the INVITE it cancels (RFC 3261 9.1).
SipRequest *SipBuilder::busyOut()
{
    return dialogRequest(!dialog.requestUri.isEmpty() ? dialog.requestUri
                                                      : QStringLiteral("sip:") + dialog.called + '@' + settings.sipServerIp + ':' + settings.sipServerPort,
                         ours(settings.user, dialog.called, dialog.callBranch, dialog.callFromTag, dialog.callToTag, dialog.callCallId,
                              dialog.cseq, QStringLiteral("CANCEL")),
                         QStringLiteral("!!! CANCEL(busyOut): "));
}

SipRequest *SipBuilder::disconnectOut()
{
    dialog.callBranch = branch();
    ++dialog.cseq;
    return dialogRequest(byeUri(),
                         ours(settings.user, dialog.called, dialog.callBranch, dialog.callFromTag, dialog.callToTag, dialog.callCallId,
                              dialog.cseq, QStringLiteral("BYE")),
                         QStringLiteral("!!! CANCEL(disconnectOut): "));
}

// A request of the call's dialog (a session refresh or an offer): the BYE's
// addressing, our Contact, Allow and Supported, and `extra` lines.
SipRequest *SipBuilder::inDialog(const QString &method, bool offer, const QStringList &extra)
{
    const bool incoming = dialog.callDirection == CallDirection::Incoming;
    if (incoming && !dialog.lastInvite)
        return nullptr;
    dialog.callBranch = branch();
    ++dialog.cseq;
    Headers d = ours(settings.user, dialog.called, dialog.callBranch, dialog.callFromTag, dialog.callToTag,
                     dialog.callCallId, dialog.cseq, method);
    if (incoming) {
        const Headers invite = invited();
        d.from = invite.to;
        d.to = invite.from;
        d.callId = invite.callId;
    }
    const QString uri = byeUri();
    auto *msg = new SipRequest(parser, method, uri, uriParameters(uri));
    addDialog(msg, d, {Field::Via, Field::From, Field::To, Field::CallId, Field::CSeq, Field::MaxForwards});
    if (!dialog.remoteTarget.isEmpty())
        addRoutes(msg);
    addDialog(msg, d, {Field::Contact});
    addCapabilities(msg);
    addLines(msg, extra);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    if (offer) {
        msg->addContentType(QStringLiteral("application/sdp"));
        attachSdp(msg, false);
    } else {
        msg->addContentLength(0);
    }
    log(QStringLiteral("!!! ") + method + QStringLiteral("(inDialog): ") + msg->toString());
    return msg;
}

// The session timer a 2xx states (RFC 4028 9): its interval and refresher,
// and Require: timer when the far end is to refresh.
QStringList SipBuilder::timerLines() const
{
    if (dialog.timer.interval <= 0)
        return {};
    QStringList lines;
    if (SessionTimer::requireTimer(dialog.timer))
        lines << QStringLiteral("Require: timer");
    lines << QStringLiteral("Session-Expires: ") + SessionTimer::sessionExpiresText(dialog.timer);
    return lines;
}

// A domain of its own, other than the server's address.
bool SipBuilder::ownDomain() const
{
    return !settings.domain.isEmpty() && settings.domain != settings.sipServerIp;
}

// The BYE of an incoming call swaps the INVITE's From and To.
SipRequest *SipBuilder::disconnectIn()
{
    if (!dialog.lastInvite)
        return nullptr;
    dialog.callBranch = branch();
    ++dialog.cseq;
    const Headers invite = invited();
    Headers d = ours(settings.user, dialog.called, dialog.callBranch, QString(), QString(), QString(), dialog.cseq,
                    QStringLiteral("BYE"));
    d.from = invite.to;
    d.to = invite.from;
    d.callId = invite.callId;
    d.hasCallId = dialog.lastInvite->getHeader(QStringLiteral("Call-ID")) != nullptr;
    return dialogRequest(byeUri(), d, QStringLiteral("!!! CANCEL(disconnectIn): "));
}

// The request's first Via with the server's address and port as the
// transport knows them (RFC 3581).
QString SipBuilder::topVia(SipPacket *request)
{
    QString value = request->getHeaderString(QStringLiteral("Via"), 1);
    static const QRegularExpression rport(QStringLiteral(";rport(=[^;]*)?(?=;|$)"));
    static const QRegularExpression received(QStringLiteral(";received(=[^;]*)?(?=;|$)"));
    if (value.contains(QLatin1String("rport")))
        value.replace(rport, QStringLiteral(";rport=") + request->serverPort);
    if (value.contains(QLatin1String("received")))
        value.replace(received, QStringLiteral(";received=") + request->serverIp);
    else
        value += QStringLiteral(";received=") + request->serverIp;
    return value;
}

// Every answer carries the request's Via list in order (RFC 3261 8.2.6.2).
void SipBuilder::addViaList(SipPacket *msg, SipPacket *request)
{
    bool top = true;
    for (SipHeader *header : qAsConst(request->headers)) {
    if (header->headerType != SipHeader::Via)
            continue;
        msg->addHeader(QStringLiteral("Via"), top ? topVia(request) : header->headerValue);
        top = false;
    }
}

// The end of a message copied from a received one: no hang-up cause or
// Supported list of the peer's, and no body.
void SipBuilder::finishCopy(SipPacket *msg)
{
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCause"));
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCauseCode"));
    // An ACK or CANCEL never carries the peer's Supported list as ours.
    deleteAll(msg, QStringLiteral("Supported"));
    deleteAll(msg, QStringLiteral("Content"));
    deleteAll(msg, QStringLiteral("Content-Length"));
    msg->addContentLength(0);
}

// A response built by RFC 3261 8.2.6: Via, From, To (with our tag), Call-ID
// and CSeq from the request, the Record-Route of an answer that makes a
// dialog (12.1.1), and our own Contact, Allow and Supported; nothing else of
// the request's is echoed.
SipResponse *SipBuilder::reply(const QString &code, const QString &reason, SipPacket *request, ToTagRule rule,
                               const QStringList &extra)
{
    SipResponse *msg = newResponse(code, reason);
    const int status = code.toInt();
    auto *cseq = typed<SipCseqHeader>(request, "CSeq", SipHeader::Cseq);
    const QString method = cseq ? cseq->cseqMethod : QString();
    const bool dialogAnswer = status > 100 && status < 300
        && (method == QLatin1String("INVITE") || method == QLatin1String("UPDATE"));
    addViaList(msg, request);
    if (dialogAnswer && method == QLatin1String("INVITE")) {
        for (SipHeader *header : qAsConst(request->headers))
            if (header->headerName.compare(QLatin1String("Record-Route"), Qt::CaseInsensitive) == 0)
                msg->addHeader(QStringLiteral("Record-Route"), header->headerValue);
    }
    for (const char *name : {"From", "To", "Call-ID", "CSeq"}) {
        SipHeader *header = request->getHeader(QLatin1String(name));
        if (!header)
            continue;
        QString value = header->headerValue;
        if (qstrcmp(name, "To") == 0 && status != 100 && !value.contains(QLatin1String(";tag="))) {
            QString toTagValue;
            if (rule == ToTagRule::Current) {
                toTagValue = dialog.callToTag;
            } else {
                toTagValue = tag();
                if (rule == ToTagRule::Store)
                    dialog.callToTag = toTagValue;
            }
            value += QStringLiteral(";tag=") + toTagValue;
        }
        msg->addHeader(QLatin1String(name), value);
    }
    if (dialogAnswer)
        msg->addHeader(QStringLiteral("Contact"), contactValue());
    if (status != 100)
        addCapabilities(msg);
    addLines(msg, extra);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    if (code == QLatin1String("401"))
        msg->addHeader(QStringLiteral("WWW-Authenticate"),
                       QStringLiteral("Digest algorithm=MD5, realm=\"Sbc\", nonce=\"") + randomText(8, tagAlphabet)
                           + '"');
    msg->addContentLength(0);
    return msg;
}

QString SipBuilder::contactValue() const
{
    // STUN's mapping is for UDP; a stream is reached on its connection.
    if (transport && transport->isReliable())
        return QStringLiteral("<sip:%1@%2:%3;transport=%4>")
            .arg(settings.user, ownHost(), ownPort(), transportName().toLower());
    return settings.useSTUN ? QStringLiteral("<sip:%1@%2:%3>").arg(settings.user, network.stunIpS, network.stunPortS)
                            : QStringLiteral("<sip:%1@%2:%3>").arg(settings.user, settings.mediaIp, settings.sipServerPort);
}

// What the phone accepts (Allow) and the extensions it does (Supported, RFC 3261 20.37).
void SipBuilder::addCapabilities(SipPacket *msg) const
{
    msg->addAllow(allowList);
    if (!supportedList().isEmpty())
        msg->addHeaderKeyValue(QStringLiteral("Supported"), supportedList());
}

// Header lines given as "Name: value".
void SipBuilder::addLines(SipPacket *msg, const QStringList &lines)
{
    for (const QString &line : lines)
        msg->addHeaderKeyValue(line.section(QLatin1Char(':'), 0, 0), line.section(QLatin1Char(':'), 1).trimmed());
}

QString SipBuilder::supportedList() const
{
    return settings.disableSessionTimer ? QString() : QStringLiteral("timer");
}

// The answer to an offer in an UPDATE (RFC 3311 5.2) added to its 200 OK.
void SipBuilder::attachAnswer(SipPacket *msg)
{
    deleteAll(msg, QStringLiteral("Content-Length"));
    msg->addContentType(QStringLiteral("application/sdp"));
    attachSdp(msg, true);
}

SipRequest *SipBuilder::responseRequest(const QString &method, SipPacket *response)
{
    auto *to = typed<SipToHeader>(response, "To", SipHeader::To);
    // The ACK of a 2xx is a request of the dialog, a transaction of its own
    // with a new branch (RFC 3261 8.1.1.7); behind a record-routing proxy it
    // goes to the remote target with the route set.
    const bool ack2xx = method == QLatin1String("ACK") && response->statusCode.startsWith(QLatin1Char('2'));
    const bool routed = ack2xx && !dialog.routeSet.isEmpty() && !dialog.remoteTarget.isEmpty();
    // Otherwise the INVITE's own Request-URI, its port rule included (RFC 3261 17.1.1.3).
    QString uri = routed ? dialog.remoteTarget
                         : QStringLiteral("sip:") + (to ? to->num : QString()) + '@' + response->serverIp;
    const QString port = serverPort();
    if (!routed && !port.isEmpty() && port != QLatin1String("5060"))
        uri += ':' + port;
    auto *msg = new SipRequest(parser, method, uri, routed ? uriParameters(uri) : QString());
    for (SipHeader *header : qAsConst(response->headers))
        msg->headers.append(parser->cloneHeader(header));
    for (const char *name : {"Authorization", "Expires", "Session-Expires", "Max-Forwards", "User-Agent", "Min-SE",
                             "Contact", "Content-Type"})
        deleteAll(msg, QLatin1String(name));

    if (auto *via = typed<SipViaHeader>(response, "Via", SipHeader::Via)) {
    QString value = via->headerValue;
        if (value.contains(QLatin1String("rport")))
            value.replace(QStringLiteral(";rport=") + via->rport, QStringLiteral(";rport"));
        if (value.contains(QLatin1String("received")))
            value.remove(QStringLiteral(";received=") + via->received);
        if (ack2xx && !via->branch.isEmpty())
            value.replace(QStringLiteral("branch=") + via->branch, QStringLiteral("branch=") + branch());
        msg->modifyHeader(QStringLiteral("Via"), 1, value);
    }
    if (method == QLatin1String("CANCEL") && to && !to->tag.isEmpty())
        msg->modifyHeader(QStringLiteral("To"), 1,
                          msg->getHeaderString(QStringLiteral("To"), 1).remove(QStringLiteral(";tag=") + to->tag));
    if (auto *cseq = typed<SipCseqHeader>(response, "CSeq", SipHeader::Cseq))
        msg->modifyHeader(QStringLiteral("CSeq"), 1, cseq->number + ' ' + method);
    deleteAll(msg, QStringLiteral("Server"));
    deleteAll(msg, QStringLiteral("Require"));
    if (routed) {
    deleteAll(msg, QStringLiteral("Record-Route"));
        addRoutes(msg);
    }
    if (method == QLatin1String("ACK"))
        msg->addMaxForwards(QStringLiteral("70"));
    if (method != QLatin1String("ACK") && method != QLatin1String("CANCEL"))
        msg->addHeaderKeyValue(QStringLiteral("User-Agent"), QStringLiteral("sorvanto"));
    finishCopy(msg);
    return msg;
}

