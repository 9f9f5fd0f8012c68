#include "sip.h"

#include "audio.h"
#include "mainwindow.h"
#include "sipparser.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "siptransactions.h"
#include "sipviaheader.h"
#include "udpsipsocket.h"

#include <QDebug>
#include <QMutexLocker>
#include <QTimer>

Sip::Sip(Audio *audio)
    : QObject(audio), audio(audio), mainWindow(audio && audio->mainWindow ? audio->mainWindow : pW)
{
    registered = false;
    transactions = new SipTransactions(this);
    parser = new SipParser(this);
    sipPort = mainWindow ? mainWindow->sipServerPort.toInt() : 5060;
    qDebug().noquote().nospace() << "SIP sipPort: " << sipPort;
    socket = new UDPSipSocket(sipPort, this);
    connect(this, &Sip::msgTransmiterSignal, this, &Sip::msgTransmiterSlot);
    connect(this, &Sip::msgReceiverSignal, this, &Sip::msgReceiverSlot);
    keepAliveTimer = new QTimer(this);
    connect(keepAliveTimer, &QTimer::timeout, this, &Sip::keepAliveSlot);
}

Sip::~Sip()
{
    delete parser;
}

int Sip::refreshSeconds() const
{
    const int expiry = grantedExpiry > 0 ? grantedExpiry : (mainWindow ? mainWindow->registrTimeout : 3600);
    // Half the granted time, and at least 30 s before it runs out.
    const int early = expiry - 30;
    return qMax(1, early > 0 ? qMin(expiry / 2, early) : expiry / 2);
}

void Sip::startKeepAlive()
{
    const int seconds = mainWindow ? mainWindow->keepAlive : 0;
    if (seconds <= 0)
        keepAliveTimer->stop();
    else if (!keepAliveTimer->isActive() || keepAliveTimer->interval() != seconds * 1000)
        keepAliveTimer->start(seconds * 1000);
}

// Keeps a router's UDP mapping to the server open, so that calls still reach us.
void Sip::keepAliveSlot()
{
    if (!registered)
        return;
    qDebug().noquote().nospace() << "!!! Tx(k): keep-alive";
    queue(QStringLiteral("\r\n\r\n"));
}

void Sip::transmit(SipRequest *msg, const QString &text)
{
    auto *via = SipParser::typed<SipViaHeader>(msg, "Via", SipHeader::Via);
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

void Sip::initSession()
{
    if (mainWindow)
        sipPort = mainWindow->useSTUN ? mainWindow->stunPortS.toInt() : mainWindow->sipServerPort.toInt();
    qDebug().noquote().nospace() << "Sip Port: " << sipPort;
    bindSocket();
}

void Sip::bindSocket()
{
    const int port = mainWindow ? mainWindow->sipServerPort.toInt() : sipPort;
    socket->bind(port);
    qDebug().noquote().nospace() << "Bind SIP Port: " << port;
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
    if (socket)
        socket->msgTransmiter(data.data(), data.size());
    qDebug().noquote().nospace() << "MsgTransmiter Size: " << data.size();
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
    if (mainWindow)
        parser->parse(text, mainWindow->sipServerIp, mainWindow->sipServerPort);
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
    SipRequest *msg = parser->registration(mainWindow->user);
    const QString text = msg->toString();
    qDebug().noquote().nospace() << "!!! Registration: ";
    qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
    transmit(msg, text);
    delete msg;
}

void Sip::callOut()
{
    mainWindow->earlyMedia = false;
    SipRequest *msg = parser->invite(mainWindow->user, mainWindow->called);
    const QString text = msg->toString();
    qDebug().noquote().nospace() << "!!! Call Out: ";
    qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
    transmit(msg, text);
    delete msg;
}

void Sip::answer()
{
    SipPacket *msg = parser->answer200Ok();
    if (!msg)
        return;
    const QString text = static_cast<SipResponse *>(msg)->toString();
    qDebug().noquote().nospace() << "!!! answer200Ok: ";
    qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
    queue(text);
    parser->remember(msg, parser->lastInvite, text);
    emit mainWindow->audioStartSignal();
    delete msg;
}

void Sip::disconnect()
{
    SipPacket *msg = parser->disconnect();
    if (!msg)
        return;
    QString text;
    if (msg->packetType == PacketRequest) {
        text = static_cast<SipRequest *>(msg)->toString();
        qDebug().noquote().nospace() << "!!! disconnect(request): ";
        qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
        transmit(static_cast<SipRequest *>(msg), text);
    } else {
        text = static_cast<SipResponse *>(msg)->toString();
        qDebug().noquote().nospace() << "!!! disconnect(response): ";
        qDebug().noquote().nospace() << "!!! Tx: !!!: " << text;
        queue(text);
        parser->remember(msg, parser->lastInvite, text);
    }
    emit mainWindow->audioStopSignal();
    delete msg;
}
