#include "sip.h"

#include "accountsettings.h"
#include "networkenvironment.h"
#include "sessiontimer.h"
#include "sipbuilder.h"
#include "sipparser.h"
#include "sipprocessor.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "sipcseqheader.h"
#include "siptransactions.h"
#include "siptransportfactory.h"
#include "sipviaheader.h"

#include <QDebug>
#include <QHostAddress>
#include <QMutexLocker>
#include <QTimer>

const char *callEndName(CallEnd cause)
{
    switch (cause) {
    case CallEnd::Refused: return "refused";
    case CallEnd::RemoteBye: return "bye";
    case CallEnd::RemoteCancel: return "cancel";
    case CallEnd::NoAnswer: return "no answer";
    case CallEnd::NotAcknowledged: return "not acknowledged";
    case CallEnd::NoCommonCodec: return "no common codec";
    case CallEnd::SessionExpired: return "session expired";
    case CallEnd::NotEncrypted: return "not encrypted";
    }
    return "unknown";
}

Sip::Sip(AccountSettings &settings, const NetworkEnvironment &network, QObject *parent)
    : QObject(parent), settings(settings), network(network)
{
    qRegisterMetaType<CallEnd>();
    qRegisterMetaType<CallState>();
    qRegisterMetaType<MediaDescription>();
    transactions = new SipTransactions(this);
    sessionTimer = new SessionTimer(this);
    connect(sessionTimer, &SessionTimer::refreshDue, this, &Sip::refreshSession);
    connect(sessionTimer, &SessionTimer::expired, this, &Sip::sessionExpired);
    parser = new SipParser();
    builder = new SipBuilder(parser, settings, network, dialog);
    processor = new SipProcessor(this, *builder, dialog, settings);
    parser->processor = processor;
    connect(this, &Sip::msgTransmiterSignal, this, &Sip::msgTransmiterSlot);
    connect(this, &Sip::msgReceiverSignal, this, &Sip::msgReceiverSlot);
    keepAliveTimer = new QTimer(this);
    connect(keepAliveTimer, &QTimer::timeout, this, &Sip::keepAliveSlot);
}

Sip::~Sip()
{
    // Stored messages of the dialog were made by the parser's factory: they go first.
    dialog.setLastInvite(nullptr);
    dialog.setLastInviteOk(nullptr);
    delete processor;
    delete builder;
    delete parser;
}

void Sip::setCallState(CallState state)
{
    if (dialog.callState == state)
        return;
    dialog.callState = state;
    if (state != CallState::Established)
        sessionTimer->stop();
    emit callStateChanged(state);
}

void Sip::setRegistered(bool on, int status)
{
    registered = on;
    emit registrationChanged(on, status);
}

int Sip::refreshSeconds() const
{
    const int expiry = grantedExpiry > 0 ? grantedExpiry : settings.registrTimeout;
    // Half the granted time, and at least 30 s before it runs out.
    const int early = expiry - 30;
    return qMax(1, early > 0 ? qMin(expiry / 2, early) : expiry / 2);
}

void Sip::startKeepAlive()
{
    const int seconds = settings.keepAlive;
    if (seconds <= 0)
        keepAliveTimer->stop();
    else if (!keepAliveTimer->isActive() || keepAliveTimer->interval() != seconds * 1000)
        keepAliveTimer->start(seconds * 1000);
}

// Keeps a router's mapping to the server open, so that calls still reach us.
void Sip::keepAliveSlot()
{
    if (!registered || !transport)
        return;
    qDebug().noquote().nospace() << "!!! Tx(k): keep-alive";
    transport->sendKeepAlive();
}

void Sip::transmit(SipRequest *msg, const QString &text)
{
    auto *via = SipBuilder::typed<SipViaHeader>(msg, "Via", SipHeader::Via);
    transactions->request(text, via ? via->branch : QString(), msg->method,
                          msg->getHeaderString(QStringLiteral("Call-ID"), 1));
    queue(text);
}

void Sip::sendRequest(SipRequest *msg)
{
    const QString text = msg->toString();
    qDebug().noquote().nospace() << "!!! Tx(s): !!!: " << text;
    transmit(msg, text);
}

void Sip::sendReply(SipPacket *msg, SipPacket *judgedBy)
{
    if (!msg)
        return;
    // A request that came over another transport than ours gets no reply.
    auto *via = SipBuilder::typed<SipViaHeader>(judgedBy, "Via", SipHeader::Via);
    const QString ours = SipTransport::viaName(transport ? transport->kind() : SipTransport::Kind::Udp);
    if (via && via->protocol.contains(ours)) {
        const QString text = msg->toString();
        send(text);
        if (msg->packetType == PacketResponse)
            remember(msg, judgedBy, text);
    }
    delete msg;
}

// Notes an answer for the request's retransmissions; a final answer to an
// INVITE goes out again until its ACK.
void Sip::remember(SipPacket *msg, SipPacket *request, const QString &text)
{
    if (!request)
        return;
    // A stored copy of a request has no method of its own: its CSeq names it.
    auto *via = SipBuilder::typed<SipViaHeader>(request, "Via", SipHeader::Via);
    auto *cseq = SipBuilder::typed<SipCseqHeader>(request, "CSeq", SipHeader::Cseq);
    if (!cseq)
        return;
    transactions->answered(via ? via->branch : QString(), cseq->cseqMethod, text);
    if (cseq->cseqMethod == QLatin1String("INVITE") && !msg->statusCode.startsWith(QLatin1Char('1')))
        transactions->finalToInvite(text, request->getHeaderString(QStringLiteral("Call-ID"), 1), cseq->number,
                                    msg->statusCode.startsWith(QLatin1Char('2')));
}

void Sip::initSession()
{
    const SipTransport::Kind kind = sipTransportKind(settings.transport);
    if (!transport || transport->kind() != kind) {
        delete transport;
        transport = createSipTransport(kind, this);
        connect(transport, &SipTransport::messageReceived, this, &Sip::messageReceived);
        connect(transport, &SipTransport::established, this, &Sip::connectionEstablished);
        connect(transport, &SipTransport::transportError, this, &Sip::connectionFailed);
        builder->transport = transport;
        serverHost.clear();
        serverAddress.clear();
        serverPort = 0;
    }
    QString error;
    if (!transport->setCaFile(settings.caFile, &error)) {
        qWarning().noquote() << "Sip:" << error;
        emit transportError(error, SipTransport::Failure::CaFile);
    }
    sipPort = settings.useSTUN ? network.stunPortS.toInt() : settings.sipServerPort.toInt();
    qDebug().noquote().nospace() << "Sip Port: " << sipPort;
    updateServer();
    bindSocket();
}

void Sip::bindSocket()
{
    const int port = settings.sipServerPort.toInt();
    transport->bindLocal(quint16(port));
    qDebug().noquote().nospace() << "Bind SIP Port: " << port;
}

// The server as the settings and the network environment name it now; a
// TLS server's certificate must name the domain, else the server's address.
void Sip::updateServer()
{
    const int port = sipServerPort(transport->kind(), settings.sipServerPort);
    const QString host = settings.domain.isEmpty() ? settings.sipServerIp : settings.domain;
    if (serverHost == host && serverAddress == network.sipServerAddr && serverPort == port)
        return;
    serverHost = host;
    serverAddress = network.sipServerAddr;
    serverPort = port;
    transport->setServer(serverHost, QHostAddress(serverAddress), quint16(port));
}

// A new connection is a new flow the registrar must learn, with our new port
// in Via and Contact: register on it (RFC 5626 4.2).
void Sip::connectionEstablished()
{
    registration();
}

void Sip::connectionFailed(const QString &reason, SipTransport::Failure failure)
{
    // Nothing reaches us without the connection: registered no more.
    if (registered)
        setRegistered(false, 0);
    emit transportError(reason, failure);
}

void Sip::queue(const QString &text)
{
    {
        QMutexLocker lock(&txMutex);
        txQueue.append(text.toUtf8());
    }
    emit msgTransmiterSignal();
}

void Sip::send(QString text)
{
    qDebug().noquote().nospace() << "!!! Tx(s): !!!: " << text;
    queue(text);
}

void Sip::msgTransmiter()
{
    QByteArray data;
    {
        QMutexLocker lock(&txMutex);
        if (txQueue.isEmpty())
            return;
        data = txQueue.takeFirst();
    }
    if (transport) {
        updateServer();
        transport->sendMessage(data);
    }
    qDebug().noquote().nospace() << "MsgTransmiter Size: " << data.size();
}

void Sip::messageReceived(const QByteArray &message)
{
    {
        QMutexLocker lock(&rxMutex);
        rxQueue.append(message);
    }
    emit msgReceiverSignal();
}

void Sip::msgReceiver()
{
    QByteArray data;
    {
        QMutexLocker lock(&rxMutex);
        if (rxQueue.isEmpty())
            return;
        data = rxQueue.takeFirst();
    }
    qDebug().noquote().nospace() << "MsgReceiver Size: " << data.size();
    // The phone sends UTF-8, so it reads UTF-8 too: a caller named in
    // Cyrillic or with accents must still ring.
    const int zero = data.indexOf('\0');
    const QString text = QString::fromUtf8(data.constData(), zero < 0 ? data.size() : zero);
    parser->parse(text, settings.sipServerIp, settings.sipServerPort);
}

void Sip::msgTransmiterSlot() { msgTransmiter(); }
void Sip::msgReceiverSlot() { msgReceiver(); }

void Sip::sendSipMsg(QString command)
{
    if (command == QLatin1String("invite"))
        callOut();
    else if (command == QLatin1String("register"))
        registration();
    else if (command == QLatin1String("answer"))
        answer();
    else if (command == QLatin1String("disconnect"))
        disconnect();
}

void Sip::registration()
{
    // Over a stream, Via and Contact name the connection's own port: the
    // REGISTER waits for the connection and goes out once it is up.
    if (transport && !transport->isConnected()) {
        transport->connectToServer();
        return;
    }
    registered = false;
    dialog.registerChallenges = 0;
    SipRequest *msg = builder->registration(settings.user);
    const QString text = msg->toString();
    qDebug().noquote().nospace() << "!!! Registration: ";
    qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
    transmit(msg, text);
    delete msg;
}

void Sip::callOut()
{
    dialog.earlyMedia = false;
    dialog.inviteChallenges = 0;
    dialog.routeSet.clear();
    dialog.remoteTarget.clear();
    dialog.newSession();
    dialog.redirects = 0;
    dialog.redirectTarget.clear();
    dialog.requestedInterval = SessionTimer::requestedInterval;
    SipRequest *msg = builder->invite(settings.user, dialog.called);
    dialog.callDirection = CallDirection::Outgoing;
    setCallState(CallState::Calling);
    const QString text = msg->toString();
    qDebug().noquote().nospace() << "!!! Call Out: ";
    qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
    transmit(msg, text);
    delete msg;
}

void Sip::answer()
{
    SipResponse *msg = builder->answer200Ok();
    if (!msg)
        return;
    setCallState(CallState::Established);
    const QString text = msg->toString();
    qDebug().noquote().nospace() << "!!! answer200Ok: ";
    qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
    queue(text);
    remember(msg, dialog.lastInvite, text);
    processor->updateMedia();
    if (dialog.timer.interval > 0)
        sessionTimer->start(dialog.timer);
    emit callAnswered();
    delete msg;
}

void Sip::refreshSession()
{
    if (dialog.callState != CallState::Established)
        return;
    const bool update = dialog.peerAllowsUpdate;
    SipRequest *msg = builder->inDialog(update ? QStringLiteral("UPDATE") : QStringLiteral("INVITE"), !update,
                                        {QStringLiteral("Session-Expires: ")
                                         + SessionTimer::sessionExpiresText(dialog.timer.interval, SessionTimer::Refresher::Uac)});
    if (!msg)
        return;
    dialog.refreshCseq = dialog.cseq;
    qDebug().noquote().nospace() << "!!! Session refresh: " << msg->method;
    sendRequest(msg);
    delete msg;
}

void Sip::sessionExpired()
{
    if (dialog.callState != CallState::Established)
        return;
    qDebug().noquote().nospace() << "!!! Session expired, not refreshed";
    SipRequest *bye = dialog.callDirection == CallDirection::Incoming ? builder->disconnectIn() : builder->disconnectOut();
    setCallState(CallState::Ended);
    if (bye) {
        sendRequest(bye);
        delete bye;
    }
    emit callEnded(CallEnd::SessionExpired, 408, QString());
}

void Sip::disconnect()
{
    SipBuilder::log(QStringLiteral("!!! callState ") + QString::number(int(dialog.callState)));
    SipBuilder::log(QStringLiteral("!!! callDirection ") + QString::number(int(dialog.callDirection)));
    const bool incoming = dialog.callDirection == CallDirection::Incoming;
    if (dialog.callState == CallState::Established || !incoming) {
        SipRequest *msg = dialog.callState == CallState::Established
            ? (incoming ? builder->disconnectIn() : builder->disconnectOut()) : builder->busyOut();
        if (!msg)
            return;
        setCallState(CallState::Ended);
        const QString text = msg->toString();
        qDebug().noquote().nospace() << "!!! disconnect(request): ";
        qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
        transmit(msg, text);
        delete msg;
    } else {
        SipResponse *msg = builder->busyIn();
        if (!msg)
            return;
        setCallState(CallState::Ended);
        const QString text = msg->toString();
        qDebug().noquote().nospace() << "!!! disconnect(response): ";
        qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
        queue(text);
        remember(msg, dialog.lastInvite, text);
        delete msg;
    }
    emit callHungUp();
}
