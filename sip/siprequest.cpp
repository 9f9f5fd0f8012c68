#include "siprequest.h"

#include "sipheader.h"
#include "siprequestmethod.h"
#include "sipuri.h"

#include <QDebug>

SipRequest::SipRequest(SipMessageParser *parser)
    : SipPacket(parser)
{
    packetType = PacketRequest;
    methods = new SipRequestMethod();
}

SipRequest::SipRequest(SipMessageParser *parser, QString method, QString rawText, QString serverIp, QString serverPort)
    : SipPacket(parser, rawText, serverIp, serverPort)
{
    packetType = PacketRequest;
    methods = new SipRequestMethod();
    setMethod(method);
}

SipRequest::SipRequest(SipMessageParser *parser, QString method, QString uri, QString uriSuffix)
    : SipPacket(parser)
{
    packetType = PacketRequest;
    methods = new SipRequestMethod();
    setMethod(method);
    requestUri = new SipUri(parser);
    requestUri->uriText = uri;
    requestUri->parse(uri);
    this->uriSuffix = uriSuffix;
}

void SipRequest::setMethod(const QString &method)
{
    if (!methods->contains(method))
        return;
    this->method = method;
    if (SipHeader::logEnabled())
        qDebug().noquote() << "SipRequest method: " + method;
}

QString SipRequest::toString()
{
    return requestText();
}
