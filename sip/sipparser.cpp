#include "sipparser.h"

#include "mainwindow.h"
#include "sip.h"
#include "sipprocessor.h"
#include "sipauthorizationheader.h"
#include "sipcontactheader.h"
#include "sipcontentheader.h"
#include "sipcseqheader.h"
#include "sipfromheader.h"
#include "sipheaderfactory.h"
#include "sipproxyauthenticateheader.h"
#include "siprecordrouteheader.h"
#include "siprequest.h"
#include "siprequestmethod.h"
#include "sipresponse.h"
#include "siptransactions.h"
#include "sipsessionexpiresheader.h"
#include "siptoheader.h"
#include "sipuri.h"
#include "sipviaheader.h"
#include "sipwwwauthenticateheader.h"

#include "md5.h"
#include "sipdigestheader.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

#include <exception>

const char *callStateName(int state)
{
    switch (state) {
    case CallIdle: return "idle";
    case CallCalling: return "calling";
    case CallOffered: return "offered";
    case CallEstablished: return "established";
    case CallEnded: return "ended";
    }
    return "unknown";
}

SipParser::SipParser(Sip *sip)
    : sip(sip)
{
    // The user agent may not have its main window yet while it builds us.
    mainWindow = sip && sip->mainWindow ? sip->mainWindow : pW;
    processor = new SipProcessor(this);
}

SipParser::~SipParser()
{
    delete lastInvite;
    delete lastInviteOk;
    delete processor;
}

// --- user agent: builders and message processing ---

namespace {

// Branches, tags and Call-IDs draw from this alphabet (no "G" among the capitals).
const QString tagAlphabet = QStringLiteral("qwertyuiopasdfghjklzxcvbnm1234567890QWERTYUIOPASDFHJKLZXCVBNM");
const QString allowList = QStringLiteral("ACK, BYE, CANCEL, INFO, INVITE, OPTIONS, REFER, REGISTER, UPDATE");
const QString userAgentName = QStringLiteral("Sorvanto");
const QString sdpOrigin = QStringLiteral("o=- 3873887852 3873887852 IN IP4 ");

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

QString md5Hex(const QString &text)
{
    QByteArray input = text.toUtf8();
    char output[33];
    MD5(input.data(), output);
    return QString::fromLatin1(output, 32);
}

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

SipHeader *SipParser::typedHeader(SipPacket *msg, const char *name, int type)
{
    SipHeader *header = msg ? msg->getHeader(QLatin1String(name)) : nullptr;
    return header && header->headerType == type ? header : nullptr;
}

void SipParser::log(const QString &text)
{
    if (SipHeader::logEnabled())
        qDebug().noquote() << text;
}

QString SipParser::tag()
{
    return randomText(8, tagAlphabet);
}

QString SipParser::branch()
{
    return QStringLiteral("z9hG4bK") + randomText(34, tagAlphabet);
}

QString SipParser::newCallId()
{
    return randomText(32, tagAlphabet);
}

QString SipParser::cnonce()
{
    return randomText(8, QStringLiteral("abcdef1234567890"));
}

QString SipParser::sipAuthenticateResponse(QString method, QString username, QString password, QString realm,
                                           QString uri, QString nonce)
{
    const QString ha1 = md5Hex(username + ':' + realm + ':' + password);
    const QString ha2 = md5Hex(method + ':' + uri);
    return md5Hex(ha1 + ':' + nonce + ':' + ha2);
}

QString SipParser::sipAuthenticateResponseAuth(QString method, QString username, QString password, QString realm,
                                               QString uri, QString nonce, QString cnonce, QString nc, QString qop)
{
    const QString ha1 = md5Hex(username + ':' + realm + ':' + password);
    const QString ha2 = md5Hex(method + ':' + uri);
    return md5Hex(ha1 + ':' + nonce + ':' + nc + ':' + cnonce + ':' + qop + ':' + ha2);
}

QString SipParser::digestUri(const QString &uriAuth) const
{
    return QStringLiteral("sip:") + (uriAuth.isEmpty() ? mainWindow->domain : uriAuth);
}

// The Authorization value for a challenge (RFC 2617): with qop "auth" it
// carries a new cnonce and the first nonce count. The hash takes the login it
// names, as the server does, not the user part of our address.
QString SipParser::digestAuthorization(const QString &method, const QString &realm, const QString &nonce,
                                       const QString &uri, const QString &qop, const QString &opaque)
{
    MainWindow *w = mainWindow;
    QString value = QStringLiteral("Digest username=\"%1\", realm=\"%2\", nonce=\"%3\", uri=\"%4\", ")
                        .arg(w->login, realm, nonce, uri);
    if (qop != QLatin1String("auth")) {
        const QString response = sipAuthenticateResponse(method, w->login, w->password, realm, uri, nonce);
        return value + QStringLiteral("response=\"%1\", algorithm=MD5\r\n").arg(response);
    }
    const QString clientNonce = cnonce();
    const QString nc = QStringLiteral("00000001");
    const QString response =
        sipAuthenticateResponseAuth(method, w->login, w->password, realm, uri, nonce, clientNonce, nc, qop);
    value += QStringLiteral("response=\"%1\", algorithm=MD5, qop=%2, cnonce=\"%3\", nc=%4")
                 .arg(response, qop, clientNonce, nc);
    if (!opaque.isEmpty())
        value += QStringLiteral(", opaque=\"%1\"").arg(opaque);
    return value + QStringLiteral("\r\n");
}

void SipParser::addSdp(SipPacket *msg, bool answer)
{
    MainWindow *w = mainWindow;
    msg->content.clear();
    msg->addContent(QStringLiteral("v=0"));
    if (answer)
        msg->addContent(QStringLiteral("t=0 0"));
    msg->addContent(sdpOrigin + w->mediaIp);
    msg->addContentIp(w->mediaIp);
    msg->addContentPort(w->getRTPPort(), w->payloadA);
    if (!w->stunIpM.isEmpty())
        msg->addContentIp(w->stunIpM);
    msg->addContent(QStringLiteral("a=sendrecv"));
    msg->addContent(w->rtpmapA);
    msg->content += QStringLiteral("a=ptime:20");
}

int SipParser::attachSdp(SipPacket *msg, bool answer)
{
    addSdp(msg, answer);
    const int length = msg->content.length() + 2;
    msg->addContentLength(length);
    msg->addHeader(QStringLiteral("Content"), msg->content);
    return length;
}

void SipParser::addRoutes(SipPacket *msg)
{
    for (const QString &route : qAsConst(routeSet))
        msg->addHeader(QStringLiteral("Route"), route);
}

// Route set and remote target of the dialog (RFC 3261 12.1): the Record-Route
// values, reversed on the caller's side, and the peer's Contact.
void SipParser::learnRoute(SipPacket *msg, bool fromRequest)
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
    routeSet = routes;
    const QString contact = msg->getHeaderString(QStringLiteral("Contact"), 1);
    remoteTarget = contact.isEmpty() ? QString() : uriOf(contact);
}

// A request of ours: Via and Contact at the media address, From and To in
// the account's domain, every port the server's.
SipParser::Dialog SipParser::ours(const QString &user, const QString &peer, const QString &branchValue,
                                  const QString &fromTag, const QString &toTag, const QString &callId,
                                  int cseq, const QString &method) const
{
    MainWindow *w = mainWindow;
    const QString &port = w->sipServerPort;
    Dialog d;
    d.via = {QString(), w->mediaIp, port, branchValue, true};
    d.from = {user, w->domain, port, fromTag, true};
    d.to = {peer, w->domain, port, toTag, true};
    d.callId = callId;
    d.hasCallId = true;
    d.cseq = QString::number(cseq);
    d.method = method;
    d.hasCseq = true;
    d.contact = {user, w->mediaIp, port, QString(), true};
    return d;
}

// The dialog of the stored INVITE as its callee sees it: the caller's Via,
// From and CSeq, the INVITE's To with our tag.
SipParser::Dialog SipParser::invited() const
{
    MainWindow *w = mainWindow;
    Dialog d;
    d.viaSource = lastInvite;
    if (auto *from = typed<SipFromHeader>(lastInvite, "From", SipHeader::From))
        d.from = {from->num, from->addrIp, from->addrPort, from->tag, true};
    if (auto *to = typed<SipToHeader>(lastInvite, "To", SipHeader::To))
        d.to = {to->num, to->addrIp, to->addrPort, w->callToTag, true};
    d.callId = lastInvite->getHeaderString(QStringLiteral("Call-ID"), 1);
    d.hasCallId = true;
    if (auto *cseq = typed<SipCseqHeader>(lastInvite, "CSeq", SipHeader::Cseq)) {
        d.cseq = cseq->number;
        d.method = cseq->cseqMethod;
        d.hasCseq = true;
    }
    d.contact = {w->user, w->mediaIp, w->sipServerPort, QString(), true};
    return d;
}

void SipParser::addDialog(SipPacket *msg, const Dialog &d, std::initializer_list<Field> order) const
{
    for (Field field : order) {
        switch (field) {
        case Field::Via:
            if (d.viaSource)
                addViaList(msg, d.viaSource);
            else if (d.via.present)
                msg->addVia(d.via.host, d.via.port, d.via.tag);
            break;
        case Field::MaxForwards: msg->addMaxForwards(mainWindow->maxForwards); break;
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
        case Field::Contact: msg->addContact(d.contact.user, d.contact.host, d.contact.port, d.contact.tag); break;
        }
    }
}

SipRequest *SipParser::registration(QString user)
{
    MainWindow *w = mainWindow;
    registerChallenges = 0;
    w->regBranch = branch();
    w->regFromTag = tag();
    w->regToTag.clear();
    w->regCallId = newCallId();
    w->regCseq = 1;
    return registerRequest(user, nullptr);
}

// An authorised retry is a new transaction (RFC 3261 8.1.3.5): new branch,
// next CSeq, the same Call-ID and tags.
SipRequest *SipParser::registration(QString user, QString authorization)
{
    mainWindow->regBranch = branch();
    mainWindow->regCseq = mainWindow->regCseq + 1;
    return registerRequest(user, &authorization);
}

// A retry (credentials given, even empty ones) writes Allow before them.
SipRequest *SipParser::registerRequest(const QString &user, const QString *authorization)
{
    MainWindow *w = mainWindow;
    sip->registered = false;
    auto *msg = new SipRequest(this, QStringLiteral("REGISTER"),
                               QStringLiteral("sip:") + user + '@' + w->sipServerIp + ':' + w->sipServerPort,
                               QString());
    addDialog(msg, ours(user, user, w->regBranch, w->regFromTag, w->regToTag, w->regCallId, w->regCseq,
                        QStringLiteral("REGISTER")),
              {Field::Via, Field::From, Field::To, Field::CallId, Field::Contact, Field::CSeq, Field::MaxForwards});
    msg->addHeaderKeyValue(QStringLiteral("Expires"), QString::number(w->registrTimeout));
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

SipRequest *SipParser::invite(QString user, QString number)
{
    MainWindow *w = mainWindow;
    inviteChallenges = 0;
    routeSet.clear();
    remoteTarget.clear();
    w->callBranch = branch();
    w->callFromTag = tag();
    w->callToTag.clear();
    w->callCallId = newCallId();
    return inviteRequest(user, number, nullptr, 0);
}

// The CSeq was advanced by the challenge's processing.
SipRequest *SipParser::invite(QString user, QString number, QString authorization, int kind)
{
    mainWindow->callBranch = branch();
    return inviteRequest(user, number, &authorization, kind);
}

// A retry (credentials given) writes Content-Type and Allow before them.
SipRequest *SipParser::inviteRequest(const QString &user, const QString &number, const QString *authorization,
                                     int kind)
{
    MainWindow *w = mainWindow;
    callDirection = CallOutgoing;
    callState = CallCalling;
    const QString &port = w->sipServerPort;
    QString uri = QStringLiteral("sip:") + number + '@' + w->sipServerIp;
    if (!port.isEmpty() && port != QLatin1String("5060"))
        uri += ':' + port;
    auto *msg = new SipRequest(this, QStringLiteral("INVITE"), uri, QString());
    addDialog(msg, ours(user, number, w->callBranch, w->callFromTag, w->callToTag, w->callCallId, w->cseq,
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
    const int length = attachSdp(msg, false);
    const QString label = authorization ? QStringLiteral("!!! INVITE authorize: ")
                                        : QStringLiteral("!!! INVITE unauthorize: ");
    log(label + QStringLiteral("len ") + QString::number(length));
    log(label + msg->toString());
    return msg;
}

SipResponse *SipParser::newResponse(const QString &code, const QString &reason)
{
    auto *msg = new SipResponse(this);
    msg->packetType = PacketResponse;
    msg->statusCode = code;
    msg->reasonPhrase = reason;
    return msg;
}

SipPacket *SipParser::answer200Ok()
{
    if (!lastInvite)
        return nullptr;
    callState = CallEstablished;
    SipResponse *msg = newResponse(QStringLiteral("200"), QStringLiteral("OK"));
    const Dialog d = invited();
    addDialog(msg, d, {Field::Via, Field::From, Field::To, Field::CallId, Field::CSeq});
    // The callee copies Record-Route into its 2xx so that the caller's ACK
    // and BYE can pass a record-routing proxy (RFC 3261 12.1.1).
    for (SipHeader *header : qAsConst(lastInvite->headers))
        if (header->headerName.compare(QLatin1String("Record-Route"), Qt::CaseInsensitive) == 0)
            msg->addHeader(QStringLiteral("Record-Route"), header->headerValue);
    addDialog(msg, d, {Field::Contact});
    msg->addContentType(QStringLiteral("application/sdp"));
    msg->addAllow(allowList);
    msg->addMaxForwards(mainWindow->maxForwards);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    const int length = attachSdp(msg, true);
    log(QStringLiteral("!!! ANSWER 200 OK: len ") + QString::number(length));
    log(QStringLiteral("!!! ANSWER 200 OK: ") + msg->toString());
    return msg;
}

SipPacket *SipParser::busyIn()
{
    if (!lastInvite)
        return nullptr;
    callState = CallEnded;
    SipResponse *msg = newResponse(QStringLiteral("486"), QStringLiteral("Busy Here"));
    const Dialog d = invited();
    addDialog(msg, d, {Field::Via, Field::From, Field::To, Field::CallId, Field::CSeq});
    msg->addAllow(allowList);
    msg->addContentLength(0);
    log(QStringLiteral("!!! 486 Busy Here(busyIn): ") + msg->toString());
    return msg;
}

// CANCEL and BYE: the dialog block, Max-Forwards, the route set on a BYE.
SipRequest *SipParser::dialogRequest(const QString &uri, const Dialog &d, const QString &logLabel)
{
    callState = CallEnded;
    auto *msg = new SipRequest(this, d.method, uri, QString());
    addDialog(msg, d, {Field::Via, Field::From, Field::To, Field::CallId, Field::CSeq, Field::MaxForwards});
    if (d.method == QLatin1String("BYE") && !remoteTarget.isEmpty())
        addRoutes(msg);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentLength(0);
    log(logLabel + msg->toString());
    return msg;
}

// Behind a record-routing proxy the BYE goes to the remote target with the
// route set, or the proxy cannot route it (RFC 3261 12.2.1.1).
QString SipParser::byeUri() const
{
    MainWindow *w = mainWindow;
    return routeSet.isEmpty() || remoteTarget.isEmpty()
        ? QStringLiteral("sip:") + w->called + '@' + w->sipServerIp + ':' + w->sipServerPort : remoteTarget;
}

SipRequest *SipParser::busyOut()
{
    MainWindow *w = mainWindow;
    return dialogRequest(QStringLiteral("sip:") + w->called + '@' + w->sipServerIp + ':' + w->sipServerPort,
                         ours(w->user, w->called, w->callBranch, w->callFromTag, w->callToTag, w->callCallId,
                              w->cseq, QStringLiteral("CANCEL")),
                         QStringLiteral("!!! CANCEL(busyOut): "));
}

SipRequest *SipParser::disconnectOut()
{
    MainWindow *w = mainWindow;
    w->callBranch = branch();
    w->cseq = w->cseq + 1;
    return dialogRequest(byeUri(),
                         ours(w->user, w->called, w->callBranch, w->callFromTag, w->callToTag, w->callCallId,
                              w->cseq, QStringLiteral("BYE")),
                         QStringLiteral("!!! CANCEL(disconnectOut): "));
}

// The BYE of an incoming call swaps the INVITE's From and To.
SipRequest *SipParser::disconnectIn()
{
    if (!lastInvite)
        return nullptr;
    MainWindow *w = mainWindow;
    w->callBranch = branch();
    w->cseq = w->cseq + 1;
    const Dialog invite = invited();
    Dialog d = ours(w->user, w->called, w->callBranch, QString(), QString(), QString(), w->cseq,
                    QStringLiteral("BYE"));
    d.from = invite.to;
    d.to = invite.from;
    d.callId = invite.callId;
    d.hasCallId = lastInvite->getHeader(QStringLiteral("Call-ID")) != nullptr;
    return dialogRequest(byeUri(), d, QStringLiteral("!!! CANCEL(disconnectIn): "));
}

SipPacket *SipParser::disconnect()
{
    log(QStringLiteral("!!! callState ") + QString::number(callState));
    log(QStringLiteral("!!! callDirection ") + QString::number(callDirection));
    if (callState == CallEstablished)
        return callDirection == CallIncoming ? static_cast<SipPacket *>(disconnectIn()) : disconnectOut();
    return callDirection == CallIncoming ? busyIn() : static_cast<SipPacket *>(busyOut());
}

void SipParser::setSipParam(SipPacket *msg)
{
    if (auto *from = typed<SipFromHeader>(msg, "From", SipHeader::From)) {
        fromNum = from->num;
        fromName = from->name;
        fromAddr = from->addr;
        fromAddrIp = from->addrIp;
        fromAddrPort = from->addrPort;
        fromTag = from->tag;
    }
    if (auto *to = typed<SipToHeader>(msg, "To", SipHeader::To)) {
        toNum = to->num;
        toAddr = to->addr;
        toAddrIp = to->addrIp;
        toAddrPort = to->addrPort;
        toTag = to->tag;
    }
    if (auto *contact = typed<SipContactHeader>(msg, "Contact", SipHeader::Contact)) {
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
        log(QLatin1String(field.first) + *field.second);
}

void SipParser::sendMessage(SipPacket *msg, SipPacket *judgedBy)
{
    // Only UDP is spoken; a request that came over TCP or WebSocket gets no reply.
    auto *via = typed<SipViaHeader>(judgedBy, "Via", SipHeader::Via);
    if (via && via->protocol.contains(QLatin1String("UDP"))) {
        const QString text = msg->toString();
        sip->send(text);
        if (msg->packetType == PacketResponse)
            remember(msg, judgedBy, text);
    }
    delete msg;
}

// The request's first Via with the server's address and port as the
// transport knows them (RFC 3581).
QString SipParser::topVia(SipPacket *request)
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
void SipParser::addViaList(SipPacket *msg, SipPacket *request)
{
    bool top = true;
    for (SipHeader *header : qAsConst(request->headers)) {
        if (header->headerType != SipHeader::Via)
            continue;
        msg->addHeader(QStringLiteral("Via"), top ? topVia(request) : header->headerValue);
        top = false;
    }
}

// Notes an answer for the request's retransmissions; a final answer to an
// INVITE goes out again until its ACK.
void SipParser::remember(SipPacket *msg, SipPacket *request, const QString &text)
{
    if (!sip || !request)
        return;
    // A stored copy of a request has no method of its own: its CSeq names it.
    auto *via = typed<SipViaHeader>(request, "Via", SipHeader::Via);
    auto *cseq = typed<SipCseqHeader>(request, "CSeq", SipHeader::Cseq);
    if (!cseq)
        return;
    sip->transactions->answered(via ? via->branch : QString(), cseq->cseqMethod, text);
    if (cseq->cseqMethod == QLatin1String("INVITE") && !msg->statusCode.startsWith(QLatin1Char('1')))
        sip->transactions->finalToInvite(text, request->getHeaderString(QStringLiteral("Call-ID"), 1), cseq->number,
                                         msg->statusCode.startsWith(QLatin1Char('2')));
}

// The end of a message copied from a received one: no hang-up cause of the
// peer's, our Supported list, and no body.
void SipParser::finishCopy(SipPacket *msg)
{
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCause"));
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCauseCode"));
    if (msg->getHeader(QStringLiteral("Supported")))
        msg->modifyHeader(QStringLiteral("Supported"), 1, QStringLiteral("replaces, timer"));
    deleteAll(msg, QStringLiteral("Content"));
    deleteAll(msg, QStringLiteral("Content-Length"));
    msg->addContentLength(0);
}

void SipParser::reply(const QString &code, const QString &reason, SipPacket *request, ToTagRule rule)
{
    MainWindow *w = mainWindow;
    auto *msg = new SipResponse(this);
    msg->packetType = PacketResponse;
    msg->statusCode = code;
    msg->reasonPhrase = reason;
    for (SipHeader *header : qAsConst(request->headers))
        msg->headers.append(cloneHeader(header));
    for (const char *name : {"Authorization", "Session-Expires", "Max-Forwards", "User-Agent", "Min-SE", "Expires",
                             "Proxy-Authorization", "Content-Type"})
        deleteAll(msg, QLatin1String(name));

    if (request->getHeader(QStringLiteral("Via")))
        msg->modifyHeader(QStringLiteral("Via"), 1, topVia(request));

    const QString to = msg->getHeaderString(QStringLiteral("To"), 1);
    if (code != QLatin1String("100") && msg->getHeader(QStringLiteral("To")) && !to.contains(QLatin1String(";tag="))) {
        QString toTagValue;
        if (rule == ToTagRule::Current) {
            toTagValue = w->callToTag;
        } else {
            toTagValue = tag();
            if (rule == ToTagRule::Store)
                w->callToTag = toTagValue;
        }
        msg->modifyHeader(QStringLiteral("To"), 1, to + QStringLiteral(";tag=") + toTagValue);
    }

    if (rule != ToTagRule::Fresh && msg->getHeader(QStringLiteral("Contact"))) {
        const QString contact = w->useSTUN
            ? QStringLiteral("<sip:%1@%2:%3>").arg(w->user, w->stunIpS, w->stunPortS)
            : QStringLiteral("<sip:%1@%2:%3>").arg(w->user, w->mediaIp, w->sipServerPort);
        msg->modifyHeader(QStringLiteral("Contact"), 1, contact);
    }

    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    if (code == QLatin1String("401"))
        msg->addHeader(QStringLiteral("WWW-Authenticate"),
                       QStringLiteral("Digest algorithm=MD5, realm=\"Sbc\", nonce=\"") + randomText(8, tagAlphabet)
                           + '"');
    finishCopy(msg);
    sendMessage(msg, request);
}

void SipParser::response(QString code, QString reason, SipPacket *request)
{
    reply(code, reason, request, ToTagRule::Store);
}

void SipParser::requestResponse(QString code, QString reason, SipPacket *request)
{
    reply(code, reason, request, ToTagRule::Fresh);
}

void SipParser::responseRequest(QString method, SipPacket *response)
{
    auto *to = typed<SipToHeader>(response, "To", SipHeader::To);
    // The ACK of a 2xx is a request of the dialog: behind a record-routing
    // proxy it goes to the remote target with the route set and a new branch.
    const bool routed = method == QLatin1String("ACK") && response->statusCode.startsWith(QLatin1Char('2'))
                        && !routeSet.isEmpty() && !remoteTarget.isEmpty();
    const QString uri = routed ? remoteTarget
                               : QStringLiteral("sip:") + (to ? to->num : QString()) + '@' + response->serverIp;
    auto *msg = new SipRequest(this, method, uri, QString());
    for (SipHeader *header : qAsConst(response->headers))
        msg->headers.append(cloneHeader(header));
    for (const char *name : {"Authorization", "Expires", "Session-Expires", "Max-Forwards", "User-Agent", "Min-SE",
                             "Contact", "Content-Type"})
        deleteAll(msg, QLatin1String(name));

    if (auto *via = typed<SipViaHeader>(response, "Via", SipHeader::Via)) {
        QString value = via->headerValue;
        if (value.contains(QLatin1String("rport")))
            value.replace(QStringLiteral(";rport=") + via->rport, QStringLiteral(";rport"));
        if (value.contains(QLatin1String("received")))
            value.remove(QStringLiteral(";received=") + via->received);
        if (routed && !via->branch.isEmpty())
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
    sendMessage(msg, response);
}

void SipParser::processSip(SipPacket *message)
{
    processor->processSip(message);
}
