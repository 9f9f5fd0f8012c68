#include "sipparser.h"

#include "mainwindow.h"
#include "sip.h"
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
}

SipParser::~SipParser()
{
    delete lastInvite;
    delete lastInviteOk;
}

// --- user agent: builders and message processing ---

namespace {

// Branches, tags and Call-IDs draw from this alphabet (no "G" among the capitals).
const QString tagAlphabet = QStringLiteral("qwertyuiopasdfghjklzxcvbnm1234567890QWERTYUIOPASDFHJKLZXCVBNM");
const QString allowList = QStringLiteral("ACK, BYE, CANCEL, INFO, INVITE, OPTIONS, REFER, REGISTER, UPDATE");
const QString userAgentName = QStringLiteral("Sorvanto");
const QString sdpOrigin = QStringLiteral("o=- 3873887852 3873887852 IN IP4 ");

void uaLog(const QString &text)
{
    if (SipHeader::logEnabled())
        qDebug().noquote() << text;
}

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

template <class T>
T *typedHeader(SipPacket *msg, const char *name, int type)
{
    SipHeader *header = msg ? msg->getHeader(QLatin1String(name)) : nullptr;
    return header && header->headerType == type ? static_cast<T *>(header) : nullptr;
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

SipRequest *SipParser::registration(QString user)
{
    MainWindow *w = mainWindow;
    sip->registered = false;
    registerChallenges = 0;
    const QString port = w->sipServerPort;
    auto *msg = new SipRequest(this, QStringLiteral("REGISTER"),
                               QStringLiteral("sip:") + user + '@' + w->sipServerIp + ':' + port, QString());
    w->regBranch = branch();
    msg->addVia(w->mediaIp, port, w->regBranch);
    w->regFromTag = tag();
    msg->addFrom(user, w->domain, port, w->regFromTag);
    w->regToTag.clear();
    msg->addTo(user, w->domain, port, w->regToTag);
    w->regCallId = newCallId();
    msg->addCallId(w->regCallId);
    msg->addContact(user, w->mediaIp, port, QString());
    msg->addCSeq(w->regCseq, QStringLiteral("REGISTER"));
    msg->addMaxForwards(w->maxForwards);
    msg->addHeaderKeyValue(QStringLiteral("Expires"), QString::number(w->registrTimeout));
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentLength(0);
    msg->addAllow(allowList);
    uaLog(QStringLiteral("!!! REGISTER unauthorize: ") + msg->toString());
    return msg;
}

SipRequest *SipParser::registration(QString user, QString authorization)
{
    MainWindow *w = mainWindow;
    sip->registered = false;
    const QString port = w->sipServerPort;
    auto *msg = new SipRequest(this, QStringLiteral("REGISTER"),
                               QStringLiteral("sip:") + user + '@' + w->sipServerIp + ':' + port, QString());
    msg->addVia(w->mediaIp, port, w->regBranch);
    msg->addFrom(user, w->domain, port, w->regFromTag);
    msg->addTo(user, w->domain, port, w->regToTag);
    msg->addCallId(w->regCallId);
    msg->addContact(user, w->mediaIp, port, QString());
    msg->addCSeq(w->regCseq, QStringLiteral("REGISTER"));
    msg->addMaxForwards(w->maxForwards);
    msg->addHeaderKeyValue(QStringLiteral("Expires"), QString::number(w->registrTimeout));
    msg->addAllow(allowList);
    if (!authorization.isEmpty())
        msg->addHeader(QStringLiteral("Authorization"), authorization);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentLength(0);
    uaLog(QStringLiteral("!!! REGISTER authorize: ") + msg->toString());
    return msg;
}

SipRequest *SipParser::invite(QString user, QString number)
{
    MainWindow *w = mainWindow;
    callDirection = 2;
    callState = 1;
    inviteChallenges = 0;
    routeSet.clear();
    remoteTarget.clear();
    const QString port = w->sipServerPort;
    QString uri = QStringLiteral("sip:") + number + '@' + w->sipServerIp;
    if (!port.isEmpty() && port != QLatin1String("5060"))
        uri += ':' + port;
    auto *msg = new SipRequest(this, QStringLiteral("INVITE"), uri, QString());
    w->callBranch = branch();
    msg->addVia(w->mediaIp, port, w->callBranch);
    msg->addMaxForwards(w->maxForwards);
    w->callFromTag = tag();
    msg->addFrom(user, w->domain, port, w->callFromTag);
    w->callToTag.clear();
    msg->addTo(number, w->domain, port, QString());
    w->callCallId = newCallId();
    msg->addCallId(w->callCallId);
    msg->addCSeq(w->cseq, QStringLiteral("INVITE"));
    msg->addContact(user, w->mediaIp, port, QString());
    msg->addAllow(allowList);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentType(QStringLiteral("application/sdp"));
    addSdp(msg, false);
    const int length = msg->content.length() + 2;
    msg->addContentLength(length);
    msg->addHeader(QStringLiteral("Content"), msg->content);
    uaLog(QStringLiteral("!!! INVITE unauthorize: len ") + QString::number(length));
    uaLog(QStringLiteral("!!! INVITE unauthorize: ") + msg->toString());
    return msg;
}

SipRequest *SipParser::invite(QString user, QString number, QString authorization, int kind)
{
    MainWindow *w = mainWindow;
    callDirection = 2;
    callState = 1;
    const QString port = w->sipServerPort;
    QString uri = QStringLiteral("sip:") + number + '@' + w->sipServerIp;
    if (!port.isEmpty() && port != QLatin1String("5060"))
        uri += ':' + port;
    auto *msg = new SipRequest(this, QStringLiteral("INVITE"), uri, QString());
    msg->addVia(w->mediaIp, port, w->callBranch);
    msg->addMaxForwards(w->maxForwards);
    msg->addFrom(user, w->domain, port, w->callFromTag);
    msg->addTo(number, w->domain, port, w->callToTag);
    msg->addCallId(w->callCallId);
    msg->addCSeq(w->cseq, QStringLiteral("INVITE"));
    msg->addContact(user, w->mediaIp, port, QString());
    msg->addContentType(QStringLiteral("application/sdp"));
    msg->addAllow(allowList);
    if (!authorization.isEmpty())
        msg->addHeader(kind == 1 ? QStringLiteral("Authorization") : QStringLiteral("Proxy-Authorization"),
                       authorization);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    addSdp(msg, false);
    const int length = msg->content.length() + 2;
    msg->addContentLength(length);
    msg->addHeader(QStringLiteral("Content"), msg->content);
    uaLog(QStringLiteral("!!! INVITE authorize: len ") + QString::number(length));
    uaLog(QStringLiteral("!!! INVITE authorize: ") + msg->toString());
    return msg;
}

SipPacket *SipParser::answer200Ok()
{
    if (!lastInvite)
        return nullptr;
    MainWindow *w = mainWindow;
    callState = 3;
    auto *msg = new SipResponse(this);
    msg->packetType = 2;
    msg->statusCode = QStringLiteral("200");
    msg->reasonPhrase = QStringLiteral("OK");
    if (auto *via = typedHeader<SipViaHeader>(lastInvite, "Via", SipHeader::Via))
        msg->addVia(via->host, via->port, via->branch);
    if (auto *from = typedHeader<SipFromHeader>(lastInvite, "From", SipHeader::From))
        msg->addFrom(from->num, from->addrIp, from->addrPort, from->tag);
    if (auto *to = typedHeader<SipToHeader>(lastInvite, "To", SipHeader::To))
        msg->addTo(to->num, to->addrIp, to->addrPort, w->callToTag);
    msg->addCallId(lastInvite->getHeaderString(QStringLiteral("Call-ID"), 1));
    if (auto *cseq = typedHeader<SipCseqHeader>(lastInvite, "CSeq", SipHeader::Cseq))
        msg->addCSeq(cseq->number, cseq->cseqMethod);
    // The callee copies Record-Route into its 2xx so that the caller's ACK
    // and BYE can pass a record-routing proxy (RFC 3261 12.1.1).
    for (SipHeader *header : qAsConst(lastInvite->headers))
        if (header->headerName.compare(QLatin1String("Record-Route"), Qt::CaseInsensitive) == 0)
            msg->addHeader(QStringLiteral("Record-Route"), header->headerValue);
    msg->addContact(w->user, w->mediaIp, w->sipServerPort, QString());
    msg->addContentType(QStringLiteral("application/sdp"));
    msg->addAllow(allowList);
    msg->addMaxForwards(w->maxForwards);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    addSdp(msg, true);
    const int length = msg->content.length() + 2;
    msg->addContentLength(length);
    msg->addHeader(QStringLiteral("Content"), msg->content);
    uaLog(QStringLiteral("!!! ANSWER 200 OK: len ") + QString::number(length));
    uaLog(QStringLiteral("!!! ANSWER 200 OK: ") + msg->toString());
    return msg;
}

SipPacket *SipParser::busyIn()
{
    if (!lastInvite)
        return nullptr;
    MainWindow *w = mainWindow;
    callState = 4;
    auto *msg = new SipResponse(this);
    msg->packetType = 2;
    msg->statusCode = QStringLiteral("486");
    msg->reasonPhrase = QStringLiteral("Busy Here");
    if (auto *via = typedHeader<SipViaHeader>(lastInvite, "Via", SipHeader::Via))
        msg->addVia(w->mediaIp, w->sipServerPort, via->branch);
    if (auto *from = typedHeader<SipFromHeader>(lastInvite, "From", SipHeader::From))
        msg->addFrom(from->num, from->addrIp, from->addrPort, from->tag);
    if (auto *to = typedHeader<SipToHeader>(lastInvite, "To", SipHeader::To))
        msg->addTo(to->num, to->addrIp, to->addrPort, w->callToTag);
    msg->addCallId(lastInvite->getHeaderString(QStringLiteral("Call-ID"), 1));
    if (auto *cseq = typedHeader<SipCseqHeader>(lastInvite, "CSeq", SipHeader::Cseq))
        msg->addCSeq(cseq->number, cseq->cseqMethod);
    msg->addAllow(allowList);
    msg->addContentLength(0);
    uaLog(QStringLiteral("!!! 486 Busy Here(busyIn): ") + msg->toString());
    return msg;
}

SipRequest *SipParser::busyOut()
{
    MainWindow *w = mainWindow;
    callState = 4;
    const QString port = w->sipServerPort;
    auto *msg = new SipRequest(this, QStringLiteral("CANCEL"),
                               QStringLiteral("sip:") + w->called + '@' + w->sipServerIp + ':' + port, QString());
    msg->addVia(w->mediaIp, port, w->callBranch);
    msg->addFrom(w->user, w->domain, port, w->callFromTag);
    msg->addTo(w->called, w->domain, port, w->callToTag);
    msg->addCallId(w->callCallId);
    msg->addCSeq(w->cseq, QStringLiteral("CANCEL"));
    msg->addMaxForwards(w->maxForwards);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentLength(0);
    uaLog(QStringLiteral("!!! CANCEL(busyOut): ") + msg->toString());
    return msg;
}

SipRequest *SipParser::disconnectOut()
{
    MainWindow *w = mainWindow;
    callState = 4;
    const QString port = w->sipServerPort;
    // Behind a record-routing proxy the BYE goes to the remote target with the
    // route set, or the proxy cannot route it (RFC 3261 12.2.1.1).
    const QString uri = routeSet.isEmpty() || remoteTarget.isEmpty()
        ? QStringLiteral("sip:") + w->called + '@' + w->sipServerIp + ':' + port : remoteTarget;
    auto *msg = new SipRequest(this, QStringLiteral("BYE"), uri, QString());
    w->callBranch = branch();
    msg->addVia(w->mediaIp, port, w->callBranch);
    msg->addFrom(w->user, w->domain, port, w->callFromTag);
    msg->addTo(w->called, w->domain, port, w->callToTag);
    msg->addCallId(w->callCallId);
    w->cseq = w->cseq + 1;
    msg->addCSeq(w->cseq, QStringLiteral("BYE"));
    msg->addMaxForwards(w->maxForwards);
    if (!remoteTarget.isEmpty())
        addRoutes(msg);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentLength(0);
    uaLog(QStringLiteral("!!! CANCEL(disconnectOut): ") + msg->toString());
    return msg;
}

SipRequest *SipParser::disconnectIn()
{
    if (!lastInvite)
        return nullptr;
    MainWindow *w = mainWindow;
    callState = 4;
    const QString port = w->sipServerPort;
    const QString uri = routeSet.isEmpty() || remoteTarget.isEmpty()
        ? QStringLiteral("sip:") + w->called + '@' + w->sipServerIp + ':' + port : remoteTarget;
    auto *msg = new SipRequest(this, QStringLiteral("BYE"), uri, QString());
    w->callBranch = branch();
    msg->addVia(w->mediaIp, port, w->callBranch);
    if (auto *to = typedHeader<SipToHeader>(lastInvite, "To", SipHeader::To))
        msg->addFrom(to->num, to->addrIp, to->addrPort, w->callToTag);
    if (auto *from = typedHeader<SipFromHeader>(lastInvite, "From", SipHeader::From))
        msg->addTo(from->num, from->addrIp, from->addrPort, from->tag);
    if (lastInvite->getHeader(QStringLiteral("Call-ID")))
        msg->addCallId(lastInvite->getHeaderString(QStringLiteral("Call-ID"), 1));
    w->cseq = w->cseq + 1;
    msg->addCSeq(w->cseq, QStringLiteral("BYE"));
    msg->addMaxForwards(w->maxForwards);
    if (!remoteTarget.isEmpty())
        addRoutes(msg);
    msg->addHeaderKeyValue(QStringLiteral("User-Agent"), userAgentName);
    msg->addContentLength(0);
    uaLog(QStringLiteral("!!! CANCEL(disconnectIn): ") + msg->toString());
    return msg;
}

SipPacket *SipParser::disconnect()
{
    uaLog(QStringLiteral("!!! callState ") + QString::number(callState));
    uaLog(QStringLiteral("!!! callDirection ") + QString::number(callDirection));
    if (callState == 3)
        return callDirection == 1 ? static_cast<SipPacket *>(disconnectIn()) : disconnectOut();
    return callDirection == 1 ? busyIn() : static_cast<SipPacket *>(busyOut());
}

void SipParser::setSipParam(SipPacket *msg)
{
    if (auto *from = typedHeader<SipFromHeader>(msg, "From", SipHeader::From)) {
        fromNum = from->num;
        fromName = from->name;
        fromAddr = from->addr;
        fromAddrIp = from->addrIp;
        fromAddrPort = from->addrPort;
        fromTag = from->tag;
    }
    if (auto *to = typedHeader<SipToHeader>(msg, "To", SipHeader::To)) {
        toNum = to->num;
        toAddr = to->addr;
        toAddrIp = to->addrIp;
        toAddrPort = to->addrPort;
        toTag = to->tag;
    }
    if (auto *contact = typedHeader<SipContactHeader>(msg, "Contact", SipHeader::Contact)) {
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
        uaLog(QLatin1String(field.first) + *field.second);
}

void SipParser::sendMessage(SipPacket *msg, SipPacket *judgedBy)
{
    // Only UDP is spoken; a request that came over TCP or WebSocket gets no reply.
    auto *via = typedHeader<SipViaHeader>(judgedBy, "Via", SipHeader::Via);
    if (via && via->protocol.contains(QLatin1String("UDP")))
        sip->send(msg->toString());
    delete msg;
}

void SipParser::reply(const QString &code, const QString &reason, SipPacket *request, ToTagRule rule)
{
    MainWindow *w = mainWindow;
    auto *msg = new SipResponse(this);
    msg->packetType = 2;
    msg->statusCode = code;
    msg->reasonPhrase = reason;
    for (SipHeader *header : qAsConst(request->headers))
        msg->headers.append(cloneHeader(header));
    for (const char *name : {"Authorization", "Session-Expires", "Max-Forwards", "User-Agent", "Min-SE", "Expires",
                             "Proxy-Authorization", "Content-Type"})
        deleteAll(msg, QLatin1String(name));

    if (auto *via = typedHeader<SipViaHeader>(request, "Via", SipHeader::Via)) {
        QString value = via->headerValue;
        // The server's address and port as the transport knows them (RFC 3581).
        static const QRegularExpression rport(QStringLiteral(";rport(=[^;]*)?(?=;|$)"));
        static const QRegularExpression received(QStringLiteral(";received(=[^;]*)?(?=;|$)"));
        if (value.contains(QLatin1String("rport")))
            value.replace(rport, QStringLiteral(";rport=") + request->serverPort);
        if (value.contains(QLatin1String("received")))
            value.replace(received, QStringLiteral(";received=") + request->serverIp);
        else
            value += QStringLiteral(";received=") + request->serverIp;
        msg->modifyHeader(QStringLiteral("Via"), 1, value);
    }

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
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCause"));
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCauseCode"));
    if (msg->getHeader(QStringLiteral("Supported")))
        msg->modifyHeader(QStringLiteral("Supported"), 1, QStringLiteral("replaces, timer"));
    if (code == QLatin1String("401"))
        msg->addHeader(QStringLiteral("WWW-Authenticate"),
                       QStringLiteral("Digest algorithm=MD5, realm=\"Sbc\", nonce=\"") + randomText(8, tagAlphabet)
                           + '"');
    deleteAll(msg, QStringLiteral("Content"));
    deleteAll(msg, QStringLiteral("Content-Length"));
    msg->addContentLength(0);
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
    auto *to = typedHeader<SipToHeader>(response, "To", SipHeader::To);
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

    if (auto *via = typedHeader<SipViaHeader>(response, "Via", SipHeader::Via)) {
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
    if (auto *cseq = typedHeader<SipCseqHeader>(response, "CSeq", SipHeader::Cseq))
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
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCause"));
    deleteAll(msg, QStringLiteral("X-Asterisk-HangupCauseCode"));
    if (msg->getHeader(QStringLiteral("Supported")))
        msg->modifyHeader(QStringLiteral("Supported"), 1, QStringLiteral("replaces, timer"));
    deleteAll(msg, QStringLiteral("Content"));
    deleteAll(msg, QStringLiteral("Content-Length"));
    msg->addContentLength(0);
    sendMessage(msg, response);
}

void SipParser::processSip(SipPacket *message)
{
    std::unique_ptr<SipPacket> owned(message);
    if (!message)
        return;
    metod_ = message->method;
    uaLog(QStringLiteral("!!! SipParser processSip metod_: ") + metod_);
    if (message->getHeader(QStringLiteral("Call-ID"))) {
        callId_ = message->getHeaderString(QStringLiteral("Call-ID"), 1);
        uaLog(QStringLiteral("callId_ ") + callId_);
    }
    if (auto *cseqHeader = typedHeader<SipCseqHeader>(message, "CSeq", SipHeader::Cseq))
        cseqMethod = cseqHeader->cseqMethod;
    if (message->packetType == 1)
        processRequest(message);
    else if (message->packetType == 2)
        processResponse(message);
}

void SipParser::incomingInvite(SipPacket *msg)
{
    MainWindow *w = mainWindow;
    auto *cseqHeader = typedHeader<SipCseqHeader>(msg, "CSeq", SipHeader::Cseq);
    const QString number = cseqHeader ? cseqHeader->number : QString();
    const bool sameCall = !callId_.isEmpty() && callId_ == w->callCallId;
    const bool inProgress = callState >= 1 && callState <= 3;

    // One call at a time: another caller is told we are busy, and the call in
    // progress keeps its identifiers.
    if (inProgress && !sameCall) {
        uaLog(QStringLiteral("In REQUEST Rx: INVITE during a call, busy"));
        requestResponse(QStringLiteral("486"), QStringLiteral("Busy Here"), msg);
        return;
    }
    if (inProgress && sameCall) {
        auto *toHeader = typedHeader<SipToHeader>(msg, "To", SipHeader::To);
        auto *offered = typedHeader<SipCseqHeader>(lastInvite, "CSeq", SipHeader::Cseq);
        const bool retransmission = callDirection == 1 && offered && offered->number == number
                                    && (!toHeader || toHeader->tag.isEmpty());
        if (retransmission && callState == 2) {
            // A provisional answer was lost: repeat it with the same To tag.
            uaLog(QStringLiteral("In REQUEST Rx: INVITE retransmitted"));
            reply(QStringLiteral("100"), QStringLiteral("Trying"), msg, ToTagRule::Current);
            reply(QStringLiteral("180"), QStringLiteral("Ringing"), msg, ToTagRule::Current);
            return;
        }
        if (retransmission && callState == 3) {
            // Our 200 OK was lost: send it again.
            if (SipPacket *ok = answer200Ok())
                sendMessage(ok, lastInvite);
            return;
        }
        if (callState == 3 && toHeader && !toHeader->tag.isEmpty()) {
            // A re-INVITE refreshes the session or moves the media; the call
            // goes on as it was.
            uaLog(QStringLiteral("In REQUEST Rx: re-INVITE"));
            if (auto *body = typedHeader<SipContentHeader>(msg, "Content", SipHeader::Content)) {
                w->mediaIp_ = body->sdpIp;
                w->mediaPort_ = QString::number(body->sdpPort.toInt());
            }
            SipPacket *stored = lastInvite;
            lastInvite = cloneSipRequest(msg);
            const QString ourTag = w->callToTag;
            w->callToTag = toHeader->tag;
            SipPacket *ok = answer200Ok();
            w->callToTag = ourTag;
            delete lastInvite;
            lastInvite = stored;
            if (ok)
                sendMessage(ok, msg);
            return;
        }
    }

    uaLog(QStringLiteral("In REQUEST Rx: INVITE"));
    callDirection = 1;
    callState = 2;
    setSipParam(msg);
    w->callFromTag = fromTag;
    w->callToTag = toTag;
    w->callCallId = callId_;
    w->cseq = number.toInt();
    if (auto *body = typedHeader<SipContentHeader>(msg, "Content", SipHeader::Content)) {
        w->mediaIp_ = body->sdpIp;
        w->mediaPort_ = QString::number(body->sdpPort.toInt());
        uaLog(QStringLiteral("INVITE mediaIp_: ") + w->mediaIp_);
        uaLog(QStringLiteral("INVITE mediaPort_: ") + w->mediaPort_);
        uaLog(QStringLiteral("INVITE Codec0()_: ") + body->codec[0]);
        uaLog(QStringLiteral("INVITE Codec1()_: ") + body->codec[1]);
    }
    delete lastInvite;
    lastInvite = cloneSipRequest(msg);
    learnRoute(msg, true);
    response(QStringLiteral("100"), QStringLiteral("Trying"), msg);
    response(QStringLiteral("180"), QStringLiteral("Ringing"), msg);
    w->called = fromNum;
    emit w->dialogWinShowSignal();
}

void SipParser::processRequest(SipPacket *msg)
{
    MainWindow *w = mainWindow;
    uaLog(QStringLiteral("!!! REQUEST"));
    uaLog(QStringLiteral(" metod_: ") + metod_);
    // A BYE or CANCEL of some other dialog (say, of a caller we turned away as
    // busy) must not end the call in progress.
    const bool otherDialog = callState >= 1 && callState <= 3 && callId_ != w->callCallId;
    if (metod_ == QLatin1String("INVITE")) {
        incomingInvite(msg);
    } else if (metod_ == QLatin1String("OPTIONS")) {
        uaLog(QStringLiteral("In REQUEST Rx: OPTIONS"));
        requestResponse(QStringLiteral("200"), QStringLiteral("OK"), msg);
    } else if (metod_ == QLatin1String("BYE") || metod_ == QLatin1String("CANCEL")) {
        const bool bye = metod_ == QLatin1String("BYE");
        uaLog(bye ? QStringLiteral("In REQUEST Rx: BYE") : QStringLiteral("In REQUEST Rx: CANCEL"));
        if (otherDialog) {
            requestResponse(QStringLiteral("481"), QStringLiteral("Call/Transaction Does Not Exist"), msg);
            return;
        }
        const bool ringingIn = !bye && callDirection == 1 && callState == 2 && lastInvite;
        callState = 4;
        requestResponse(QStringLiteral("200"), QStringLiteral("OK"), msg);
        // The cancelled INVITE still needs its final answer (RFC 3261 9.2);
        // without it the caller and every proxy between wait for their timers.
        if (ringingIn)
            reply(QStringLiteral("487"), QStringLiteral("Request Terminated"), lastInvite, ToTagRule::Current);
        w->busyStartSendSignal(bye ? QStringLiteral("Bye") : QStringLiteral("Cancel"));
    } else if (metod_ == QLatin1String("ACK")) {
        uaLog(QStringLiteral("In REQUEST Rx: ACK"));
    } else if (!metod_.isEmpty()) {
        // Every request gets a final answer, or the peer retransmits it for
        // 32 s and may end the call (RFC 5057).
        requestResponse(QStringLiteral("501"), QStringLiteral("Not Implemented"), msg);
    }
}

void SipParser::failure(SipPacket *msg, const QString &text)
{
    if (!text.isEmpty() && text != status + ' ' + note)
        uaLog(QStringLiteral("Out Rx: ") + text);
    responseRequest(QStringLiteral("ACK"), msg);
    // A failure that arrives after this side ended the call (the 487 to our
    // CANCEL, a 481 to our BYE) must not start the busy tone again.
    if (callState == 4) {
        uaLog(QStringLiteral("Out Rx: call already ended, ") + status);
        return;
    }
    // A refused INVITE ends the call on this side too, or the next caller
    // would be told we are busy.
    if (cseqMethod == QLatin1String("INVITE") && callId_ == mainWindow->callCallId)
        callState = 4;
    mainWindow->busyStartSendSignal(text);
}

void SipParser::registerChallenge(SipPacket *msg)
{
    MainWindow *w = mainWindow;
    uaLog(QStringLiteral("REGISTER status: ") + status);
    uaLog(QStringLiteral("Out RESPONSE Rx: 401 Unauthorized REGISTER"));
    if (auto *from = typedHeader<SipFromHeader>(msg, "From", SipHeader::From))
        fromNum = from->num;
    auto *challenge = typedHeader<SipWwwAuthenticateHeader>(msg, "WWW-Authenticate", SipHeader::WwwAuthenticate);
    if (!challenge)
        return;
    const QString realmAuth = challenge->realm;
    const QString nonceAuth = challenge->nonce;
    const QString uriAuth = challenge->uri.isEmpty() ? challenge->domain : challenge->uri;
    uaLog(QStringLiteral(" realmAuth: ") + realmAuth);
    uaLog(QStringLiteral(" nonceAuth: ") + nonceAuth);
    uaLog(QStringLiteral(" uriAuth: ") + uriAuth);
    uaLog(QStringLiteral(" qopAuth: ") + challenge->qop);
    uaLog(QStringLiteral(" opaqueAuth: ") + challenge->opaque);
    if (realmAuth.isEmpty() || nonceAuth.isEmpty())
        return;
    // A wrong password is not retried forever: the next timer expiry starts over.
    if (registerChallenges >= maxChallenges) {
        uaLog(QStringLiteral("REGISTER challenged again, credentials refused; waiting for the timer"));
        return;
    }
    ++registerChallenges;
    const QString uri = QStringLiteral("sip:") + (uriAuth.isEmpty() ? w->domain : uriAuth);
    uaLog(QStringLiteral("uri ") + uri);
    const QString responseValue = sipAuthenticateResponse(QStringLiteral("REGISTER"), w->user, w->password,
                                                          realmAuth, uri, nonceAuth);
    const QString authorization = QStringLiteral("Digest username=\"%1\", realm=\"%2\", nonce=\"%3\", uri=\"%4\", "
                                                 "response=\"%5\", algorithm=MD5\r\n")
                                      .arg(w->login, realmAuth, nonceAuth, uri, responseValue);
    uaLog(QStringLiteral("sipAuthenticateResponse Authorization: ") + authorization);
    w->cseq = w->cseq + 1;
    SipRequest *retry = registration(fromNum, authorization);
    sip->send(retry->toString());
    delete retry;
}

void SipParser::challenge(SipPacket *msg, bool proxy)
{
    MainWindow *w = mainWindow;
    uaLog(QStringLiteral("INVITE status: ") + status);
    setSipParam(msg);
    uaLog(proxy ? QStringLiteral("Out RESPONSE Rx: 407 Unauthorized INVITE")
                : QStringLiteral("Out RESPONSE Rx: 401 Unauthorized INVITE"));
    // A challenge to an INVITE the user already gave up is only acknowledged.
    if (callState == 4) {
        responseRequest(QStringLiteral("ACK"), msg);
        return;
    }
    if (inviteChallenges >= maxChallenges) {
        uaLog(QStringLiteral("INVITE challenged again, credentials refused"));
        responseRequest(QStringLiteral("ACK"), msg);
        callState = 4;
        w->busyStartSendSignal(status + ' ' + note);
        return;
    }
    ++inviteChallenges;
    SipChallengeHeader *header = proxy
        ? static_cast<SipChallengeHeader *>(
              typedHeader<SipProxyAuthenticateHeader>(msg, "Proxy-Authenticate", SipHeader::ProxyAuthenticate))
        : typedHeader<SipWwwAuthenticateHeader>(msg, "WWW-Authenticate", SipHeader::WwwAuthenticate);
    QString authorization;
    if (header) {
        const QString realm = header->realm;
        const QString nonce = header->nonce;
        const QString uriAuth = header->uri.isEmpty() ? header->domain : header->uri;
        const QString qop = header->qop;
        const QString opaque = header->opaque;
        uaLog(QStringLiteral("sipAuthenticateResponse realmAuth: ") + realm);
        uaLog(QStringLiteral("sipAuthenticateResponse nonceAuth: ") + nonce);
        uaLog(QStringLiteral("sipAuthenticateResponse uriAuth: ") + uriAuth);
        uaLog(QStringLiteral("sipAuthenticateResponse qopAuth: ") + qop);
        uaLog(QStringLiteral("sipAuthenticateResponse opaqueAuth: ") + opaque);
        if (!realm.isEmpty() && !nonce.isEmpty()) {
            const QString uri = QStringLiteral("sip:") + (uriAuth.isEmpty() ? w->domain : uriAuth);
            uaLog(QStringLiteral("sipAuthenticateResponse uri: ") + uri);
            if (qop == QLatin1String("auth")) {
                const QString clientNonce = cnonce();
                const QString nc = QStringLiteral("00000001");
                const QString value = sipAuthenticateResponseAuth(QStringLiteral("INVITE"), w->user, w->password,
                                                                  realm, uri, nonce, clientNonce, nc, qop);
                authorization = QStringLiteral("Digest username=\"%1\", realm=\"%2\", nonce=\"%3\", uri=\"%4\", "
                                               "response=\"%5\", algorithm=MD5, qop=%6, cnonce=\"%7\", nc=%8")
                                    .arg(w->login, realm, nonce, uri, value, qop, clientNonce, nc);
                if (!opaque.isEmpty())
                    authorization += QStringLiteral(", opaque=\"%1\"").arg(opaque);
                authorization += QStringLiteral("\r\n");
                uaLog(QStringLiteral("sipAuthenticateResponse Authorization(2): ") + authorization);
            } else {
                const QString value = sipAuthenticateResponse(QStringLiteral("INVITE"), w->user, w->password,
                                                              realm, uri, nonce);
                authorization = QStringLiteral("Digest username=\"%1\", realm=\"%2\", nonce=\"%3\", uri=\"%4\", "
                                               "response=\"%5\", algorithm=MD5\r\n")
                                    .arg(w->login, realm, nonce, uri, value);
                uaLog(QStringLiteral("sipAuthenticateResponse Authorization(1): ") + authorization);
            }
        }
    }
    responseRequest(QStringLiteral("ACK"), msg);
    w->cseq = w->cseq + 1;
    const int kept = inviteChallenges;
    SipRequest *retry = invite(fromNum, toNum, authorization, proxy ? 2 : 1);
    inviteChallenges = kept;
    sip->send(retry->toString());
    delete retry;
}

void SipParser::processResponse(SipPacket *msg)
{
    MainWindow *w = mainWindow;
    status = msg->statusCode;
    note = msg->reasonPhrase;
    uaLog(QStringLiteral("!!! RESPONSE"));
    uaLog(QStringLiteral(" status: ") + status);
    uaLog(QStringLiteral(" note: ") + note);
    if (status.isEmpty())
        return;
    const QChar first = status.at(0);
    if (!first.isDigit() || first.digitValue() > 6)
        return;
    auto *cseqHeader = typedHeader<SipCseqHeader>(msg, "CSeq", SipHeader::Cseq);
    const QString cseqNumber = cseqHeader ? cseqHeader->number : QString();
    auto *body = typedHeader<SipContentHeader>(msg, "Content", SipHeader::Content);

    switch (first.digitValue()) {
    case 1:
        if (status == QLatin1String("100")) {
            uaLog(QStringLiteral("Out RESPONSE Rx: 100 trying"));
            setSipParam(msg);
            w->callFromTag = fromTag;
            w->callToTag = toTag;
        } else if (status == QLatin1String("183")) {
            uaLog(QStringLiteral("Out RESPONSE Rx: 183 Session Progress"));
            setSipParam(msg);
            w->callFromTag = fromTag;
            w->callToTag = toTag;
            w->cseq = cseqNumber.toInt();
            if (body) {
                w->earlyMedia = true;
                w->mediaIp_ = body->sdpIp;
                w->mediaPort_ = QString::number(body->sdpPort.toInt());
                uaLog(QStringLiteral("183 mediaIp_: ") + w->mediaIp_);
                uaLog(QStringLiteral("183 mediaPort_: ") + w->mediaPort_);
                uaLog(QStringLiteral("183 Codec0()_: ") + body->codec[0]);
                uaLog(QStringLiteral("183 odec1()_: ") + body->codec[1]);
            }
            emit w->rx183Signal();
            callDirection = 2;
        }
        return;
    case 2:
        if (status != QLatin1String("200"))
            return;
        if (cseqMethod == QLatin1String("REGISTER")) {
            sip->registered = true;
            registerChallenges = 0;
            uaLog(QStringLiteral("Out RESPONSE Rx: 200 Ok REGISTER"));
            uaLog(QStringLiteral(" !!! Registered "));
            emit w->registeredSignal();
        } else if (cseqMethod == QLatin1String("INVITE")) {
            uaLog(QStringLiteral("Out RESPONSE Rx: 200 Ok INVITE"));
            const bool ourCall = callId_ == w->callCallId;
            if (ourCall && callDirection == 2 && callState == 3) {
                // A retransmitted 200: acknowledge it again, the call is up.
                responseRequest(QStringLiteral("ACK"), msg);
                return;
            }
            setSipParam(msg);
            w->callFromTag = fromTag;
            w->callToTag = toTag;
            w->cseq = cseqNumber.toInt();
            learnRoute(msg, false);
            inviteChallenges = 0;
            if (ourCall && callDirection == 2 && callState == 4) {
                // The callee answered as we hung up: acknowledge and end it.
                responseRequest(QStringLiteral("ACK"), msg);
                SipRequest *bye = disconnectOut();
                sip->send(bye->toString());
                delete bye;
                return;
            }
            if (body) {
                w->mediaIp_ = body->sdpIp;
                w->mediaPort_ = QString::number(body->sdpPort.toInt());
                uaLog(QStringLiteral("200 OK mediaIp_: ") + w->mediaIp_);
                uaLog(QStringLiteral("200 OK mediaPort_: ") + w->mediaPort_);
                uaLog(QStringLiteral("200 OK Codec0()_: ") + body->codec[0]);
                uaLog(QStringLiteral("200 OK Codec1()_: ") + body->codec[1]);
            }
            delete lastInviteOk;
            lastInviteOk = cloneSipResponse(msg);
            callDirection = 2;
            callState = 3;
            uaLog(QStringLiteral("Tx ACK"));
            responseRequest(QStringLiteral("ACK"), msg);
            emit w->audioStartSignal();
        }
        return;
    case 3:
        uaLog(QStringLiteral("code = 3"));
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
            failure(msg, status + ' ' + note);
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
