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

#include <QDebug>

#include <exception>

namespace {
// Longest line, in characters before its line feed, that the parser reads.
const int maxLineLength = 10000;
}

SipParser::SipParser(Sip *sip)
    : sip(sip)
{
    // The user agent may not have its main window yet while it builds us.
    mainWindow = sip && sip->mainWindow ? sip->mainWindow : pW;
    methods = new SipRequestMethod();
    headerFactory = new SipHeaderFactory(this);
}

SipParser::~SipParser()
{
    delete lastInvite;
    delete lastInviteOk;
    delete headerFactory;
    delete methods;
}

void SipParser::processSip(SipPacket *message)
{
    delete message;
}

bool SipParser::parse(QString text, QString serverIp, QString serverPort)
{
    parseState = 0;
    token.clear();
    headerName.clear();
    position = 0;
    lineLength = 0;

    SipPacket *message = nullptr; // ours until handed to processSip
    const int size = text.size();
    bool running = true;

    // Collects the current character, or stops on one the parser does not take.
    auto collect = [&]() {
        if (SipHeader::isAccepted(currentChar))
            token += currentChar;
        else
            running = false;
    };

    while (running) {
        if (parseState != 10) {
            if (position >= size)
                break;
            currentChar = text.at(position);
            ++position;
            ++lineLength;
            if (currentChar == '\n')
                lineLength = 0;
            else if (lineLength > maxLineLength)
                break;
        }

        switch (parseState) {
        case 0: // method or version of the start line
            if (currentChar == ' ') {
                if (methods->contains(token)) {
                    message = new SipRequest(this, token, text, serverIp, serverPort);
                    parseState = 1;
                } else if (token.trimmed() == QLatin1String("SIP/2.0")) {
                    message = new SipResponse(this, text, serverIp, serverPort);
                    if (SipHeader::logEnabled())
                        qDebug().noquote() << "SipResponse: " + text;
                    message->version = token;
                    parseState = 4;
                } else {
                    running = false;
                }
                token.clear();
            } else {
                collect();
            }
            break;

        case 1: // request-URI
            if (currentChar == ' ') {
                SipUri *uri = new SipUri(this);
                uri->uriText = token;
                if (!uri->parse(token)) {
                    delete uri;
                    running = false;
                    break;
                }
                message->requestUri = uri;
                token.clear();
                parseState = 2;
            } else {
                collect();
            }
            break;

        case 2: // version of the request line
            if (currentChar == '\r' || currentChar == '\n') {
                if (token.trimmed() != QLatin1String("SIP/2.0")) {
                    running = false;
                    break;
                }
                message->version = token;
                token.clear();
                parseState = 6;
            } else {
                collect();
            }
            break;

        case 4: // status code
            if (currentChar == ' ') {
                message->statusCode = token;
                token.clear();
                parseState = 5;
            } else if (currentChar >= '0' && currentChar <= '9') {
                token += currentChar;
            } else {
                running = false;
            }
            break;

        case 5: // reason phrase
            if (currentChar == '\r' || currentChar == '\n') {
                message->reasonPhrase = token;
                token.clear();
                parseState = 6;
            } else {
                collect();
            }
            break;

        case 6: // header name
            if (currentChar == ':') {
                headerName = token;
                token.clear();
                parseState = 7;
            } else if (currentChar != '\n') {
                collect();
            }
            break;

        case 7: // blanks between the colon and the value
            if (currentChar == ' ') {
                break;
            } else if (currentChar == '\r') {
                if (skipFold(text))
                    break;
                message->addHeader(headerName, QString());
                headerName.clear();
                endOfLine(text, message);
            } else {
                collect();
                parseState = 8;
            }
            break;

        case 8: // header value
            if (currentChar == '\r') {
                if (skipFold(text)) {
                    token += ' ';
                    break;
                }
                message->addHeader(headerName, token);
                headerName.clear();
                token.clear();
                endOfLine(text, message);
            } else {
                collect();
            }
            break;

        case 9: // body: everything to the end of the datagram
            collect();
            if (running && position >= size) {
                message->addHeader("Content", token);
                token.clear();
                parseState = 10;
            }
            break;

        case 10: { // complete
            SipPacket *complete = message;
            message = nullptr;
            try {
                processSip(complete);
            } catch (...) {
                qDebug().noquote() << "try catch parseSipPacketReady";
            }
            lineLength = 0;
            token.clear();
            // One datagram carries one message (RFC 3261 section 18.3):
            // whatever follows it is discarded.
            running = false;
            break;
        }
        }
    }

    delete message;
    token.clear();
    headerName.clear();
    return false;
}

// A CR LF followed by a blank continues the header value on the next line
// (RFC 3261 section 7.3.1). Reads past the fold and returns true if there is
// one; the value then goes on with a single space.
bool SipParser::skipFold(const QString &text)
{
    const int size = text.size();
    if (position + 2 >= size || text.at(position) != '\n')
        return false;
    const QChar next = text.at(position + 1);
    if (next != ' ' && next != '\t')
        return false;
    position += 2;
    lineLength = 0;
    while (position < size && (text.at(position) == ' ' || text.at(position) == '\t'))
        ++position;
    return true;
}

void SipParser::endOfLine(const QString &text, SipPacket *message)
{
    const int p = position; // just after the CR
    if (p + 2 >= text.size()) {
        // nothing but the line feed (and at most one more character) left
        parseState = 10;
        return;
    }
    position = p + 1;
    if (text.at(p) == '\n' && text.at(p + 1) == '\r' && text.at(p + 2) == '\n') {
        // the empty line: its CR LF is read next, as the start of the body
        bool noBody = false;
        for (SipHeader *h : qAsConst(message->headers)) {
            if (h->headerName.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0
                && h->headerValue == QLatin1String("0")) {
                noBody = true;
                break;
            }
        }
        parseState = noBody ? 10 : 9;
        return;
    }
    // the line feed is skipped unread, so the line count restarts here
    lineLength = 0;
    parseState = 6;
}

SipHeader *SipParser::cloneHeader(SipHeader *h)
{
    SipHeader *copy = nullptr;
    const QString &name = h->headerName;
    const QString &value = h->headerValue;
    switch (h->headerType) {
    case SipHeader::Via: copy = new SipViaHeader(this, name, value); break;
    case SipHeader::From: copy = new SipFromHeader(this, name, value); break;
    case SipHeader::To: copy = new SipToHeader(this, name, value); break;
    case SipHeader::Contact: copy = new SipContactHeader(this, name, value); break;
    case SipHeader::Cseq: copy = new SipCseqHeader(this, name, value); break;
    case SipHeader::Authorization: copy = new SipAuthorizationHeader(this, name, value); break;
    case SipHeader::WwwAuthenticate: copy = new SipWwwAuthenticateHeader(this, name, value); break;
    case SipHeader::ProxyAuthenticate: copy = new SipProxyAuthenticateHeader(this, name, value); break;
    case SipHeader::SessionExpires: copy = new SipSessionExpiresHeader(this, name, value); break;
    case SipHeader::RecordRoute: copy = new SipRecordRouteHeader(this, name, value); break;
    case SipHeader::Content: copy = new SipContentHeader(this, name, value); break;
    default: copy = new SipHeader(this, name, value); break;
    }
    copy->headerName = h->headerName;
    copy->headerValue = h->headerValue;
    copy->headerType = h->headerType;
    copy->parser = h->parser;
    return copy;
}

SipRequest *SipParser::cloneSipRequest(SipPacket *src)
{
    SipRequest *copy = new SipRequest(this);
    for (SipHeader *h : qAsConst(src->headers))
        copy->headers.append(cloneHeader(h));
    return copy;
}

SipPacket *SipParser::cloneSipResponse(SipPacket *src)
{
    SipPacket *copy = new SipResponse(this);
    for (SipHeader *h : qAsConst(src->headers))
        copy->headers.append(cloneHeader(h));
    return copy;
}

// --- user agent: builders and message processing ---
