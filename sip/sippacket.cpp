#include "sippacket.h"

#include "sipheader.h"
#include "sipheaderfactory.h"
#include "sipmessageparser.h"
#include "siprequestmethod.h"
#include "sipuri.h"

#include <QDebug>

#include <algorithm>

const char *packetTypeName(int type)
{
    switch (type) {
    case PacketUnset: return "unset";
    case PacketRequest: return "request";
    case PacketResponse: return "response";
    }
    return "unknown";
}

SipPacket::SipPacket(SipMessageParser *parser)
    : parser(parser), headerFactory(parser ? parser->headerFactory : nullptr)
{
}

SipPacket::SipPacket(SipMessageParser *parser, QString rawText, QString serverIp, QString serverPort)
    : SipPacket(parser)
{
    this->rawText = rawText;
    this->serverIp = serverIp;
    this->serverPort = serverPort;
}

SipPacket::~SipPacket()
{
    qDeleteAll(headers);
    headers.clear();
    delete methods;
    delete requestUri;
}

int SipPacket::indexOf(const QString &name, int index) const
{
    int seen = 0;
    for (int i = 0; i < headers.size(); ++i) {
        if (headers.at(i)->headerName.compare(name, Qt::CaseInsensitive) == 0 && ++seen == index)
            return i;
    }
    return -1;
}

SipHeader *SipPacket::getHeader(QString name)
{
    const int i = indexOf(name, 1);
    return i < 0 ? nullptr : headers.at(i);
}

QString SipPacket::getHeaderString(QString name, int index)
{
    const int i = indexOf(name, index);
    return i < 0 ? QString() : headers.at(i)->headerValue;
}

void SipPacket::modifyHeader(QString name, int index, QString value)
{
    const int i = indexOf(name, index);
    if (i >= 0)
        headers.at(i)->headerValue = value;
}

void SipPacket::deleteHeader(QString name, int index)
{
    const int i = indexOf(name, index);
    if (i >= 0)
        delete headers.takeAt(i);
}

void SipPacket::addHeader(QString key, QString value)
{
    try {
        // Without a parser (a packet built on its own) a local factory serves.
        SipHeaderFactory local(parser);
        SipHeaderFactory *factory = headerFactory ? headerFactory : &local;
        // the compact "v" carries comma lists too; unsplit, its first branch
        // would be read from the last value
        if ((key.size() == 3 && key.compare(QLatin1String("via"), Qt::CaseInsensitive) == 0)
            || (key.size() == 1 && key.compare(QLatin1String("v"), Qt::CaseInsensitive) == 0)) {
            if (!value.contains(QLatin1Char(','))) {
                headers.append(factory->factory(key, value));
                return;
            }
            const QStringList parts = value.split(',');
            for (const QString &part : parts)
                headers.append(factory->factory(key, part));
        } else {
            headers.append(factory->factory(key, value));
        }
    } catch (...) {
        qDebug().noquote() << "try catch: addHeader(key,value)";
    }
}

void SipPacket::addHeaderKeyValue(QString key, QString value)
{
    addHeader(key, value);
}

void SipPacket::addVia(QString host, QString port, QString branch, const QString &transport)
{
    if (!port.isEmpty() && port != QLatin1String("5060"))
        via = QString("SIP/2.0/%4 %1:%2;rport;branch=%3").arg(host, port, branch, transport);
    else
        via = QString("SIP/2.0/%3 %1;rport;branch=%2").arg(host, branch, transport);
    addHeader("Via", via);
}

// The four forms of a name-addr: port "5060" counts as no port, an empty tag
// as no tag.
QString SipPacket::addressValue(const char *withPortTag, const char *withPort, const char *withTag,
                                const char *plain, QString user, QString host, QString port, QString tag)
{
    const bool hasPort = !port.isEmpty() && port != QLatin1String("5060");
    const bool hasTag = !tag.isEmpty();
    if (hasPort && hasTag)
        return QString(withPortTag).arg(user, host, port, tag);
    if (hasPort)
        return QString(withPort).arg(user, host, port);
    if (hasTag)
        return QString(withTag).arg(user, host, tag);
    return QString(plain).arg(user, host);
}

void SipPacket::addFrom(QString user, QString host, QString port, QString tag)
{
    from.clear();
    from = addressValue("<sip:%1@%2:%3>;tag=%4", "<sip:%1@%2:%3>", "<sip:%1@%2>;tag=%3", "<sip:%1@%2>",
                        user, host, port, tag);
    addHeader("From", from);
}

void SipPacket::addTo(QString user, QString host, QString port, QString tag)
{
    to.clear();
    to = addressValue("<sip:%1@%2:%3>;tag=%4", "<sip:%1@%2:%3>", "<sip:%1@%2>;tag=%3", "<sip:%1@%2>",
                      user, host, port, tag);
    addHeader("To", to);
}

void SipPacket::addContact(QString user, QString host, QString port, QString tag, const QString &transport)
{
    contact = addressValue("<sip:%1@%2:%3;transport=udp>;tag=%4", "<sip:%1@%2:%3;transport=udp>",
                           "<sip:%1@%2;transport=udp>;tag=%3", "<sip:%1@%2;transport=udp>",
                           user, host, port, tag);
    if (transport != QLatin1String("UDP"))
        contact.replace(QLatin1String(";transport=udp>"), ";transport=" + transport.toLower() + '>');
    addHeader("Contact", contact);
}

void SipPacket::addCallId(QString id)
{
    callId = id;
    addHeader("Call-ID", callId);
}

void SipPacket::addCSeq(QString number, QString method)
{
    cseq = QString("%1 %2").arg(number, method);
    addHeader("CSeq", cseq);
}

void SipPacket::addMaxForwards(QString count)
{
    maxForwards = count;
    addHeader("Max-Forwards", maxForwards);
}

void SipPacket::addAllow(QString list)
{
    allow = list;
    addHeader("Allow", allow);
}

void SipPacket::addContentType(QString type)
{
    contentType = type;
    addHeader("Content-Type", contentType);
}

void SipPacket::addContentLength(QString length)
{
    // the header itself holds the trimmed number
    contentLength = length + "\r\n\r\n";
    addHeader("Content-Length", contentLength);
}

void SipPacket::addContent(QString line)
{
    content += line + "\r\n";
}

void SipPacket::addContentIp(QString address)
{
    content += "c=IN IP4 " + address + "\r\n";
}

void SipPacket::addContentPort(QString port, QString payloadTypes)
{
    content += QString("m=audio %1 RTP/AVP %2\r\n").arg(port, payloadTypes);
}

// The exact length of what writeHeaders appends, so the wire text is built in
// one allocation.
int SipPacket::headersSize() const
{
    int size = 2;
    const SipHeader *body = nullptr;
    for (const SipHeader *h : qAsConst(headers)) {
        if (h->headerName == QLatin1String("Content"))
            body = h;
        else
            size += h->headerName.size() + h->headerValue.size() + 4;
    }
    if (body)
        size += body->headerValue.size() + 2;
    return size;
}

namespace {
// A received header may hold a bare LF in its value or a CR in its name,
// which a reader would take for the end of the line (RFC 3261 7.3.1): a reply
// copying it would carry a line of the sender's choosing, such as a second
// Content-Length. Each goes out as the space an unfolded line has.
void writeText(QString &text, const QString &part)
{
    const int start = text.size();
    text += part;
    if (part.contains(QLatin1Char('\n')) || part.contains(QLatin1Char('\r')))
        std::replace_if(text.begin() + start, text.end(),
                        [](QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); }, QChar(QLatin1Char(' ')));
}
} // namespace

void SipPacket::writeHeaders(QString &text)
{
    SipHeader *body = nullptr;
    SipHeader *length = nullptr;
    for (SipHeader *h : qAsConst(headers)) {
        if (h->headerName == QLatin1String("Content")) {
            body = h;
        } else if (h->headerName == QLatin1String("Content-Length")) {
            length = h;
        } else {
            writeText(text, h->headerName);
            text += QLatin1String(": ");
            writeText(text, h->headerValue);
            text += QLatin1String("\r\n");
        }
    }
    if (length) {
        text += length->headerName;
        text += QLatin1String(": ");
        text += length->headerValue;
        text += QLatin1String("\r\n");
    }
    text += QLatin1String("\r\n");
    if (body) {
        text += body->headerValue;
        text += QLatin1String("\r\n");
    }
}

// The request-URI is written from its fields as SipUri::toString() does,
// without a string of its own.
void SipPacket::writeRequestLine(QString &text)
{
    text += method;
    text += QLatin1Char(' ');
    if (requestUri) {
        text += requestUri->scheme;
        text += QLatin1Char(':');
        if (!requestUri->user.isEmpty()) {
            text += requestUri->user;
            text += QLatin1Char('@');
        }
        text += requestUri->host;
        if (!requestUri->port.isEmpty()) {
            text += QLatin1Char(':');
            text += requestUri->port;
        }
    }
    text += uriSuffix;
    text += QLatin1String(" SIP/2.0\r\n");
}

int SipPacket::requestLineSize() const
{
    int size = method.size() + 1 + uriSuffix.size() + 10;
    if (requestUri) {
        size += requestUri->scheme.size() + 1 + requestUri->host.size();
        if (!requestUri->user.isEmpty())
            size += requestUri->user.size() + 1;
        if (!requestUri->port.isEmpty())
            size += requestUri->port.size() + 1;
    }
    return size;
}

void SipPacket::writeStatusLine(QString &text)
{
    text += QLatin1String("SIP/2.0 ");
    text += statusCode;
    text += QLatin1Char(' ');
    text += reasonPhrase;
    text += QLatin1String("\r\n");
}

QString SipPacket::requestText()
{
    QString text;
    text.reserve(requestLineSize() + headersSize());
    writeRequestLine(text);
    writeHeaders(text);
    return text;
}

QString SipPacket::responseText()
{
    QString text;
    text.reserve(10 + statusCode.size() + reasonPhrase.size() + headersSize());
    writeStatusLine(text);
    writeHeaders(text);
    return text;
}

QString SipPacket::toString()
{
    return packetType == PacketResponse ? responseText() : requestText();
}
