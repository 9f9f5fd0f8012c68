#include "sipmessageparser.h"

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

namespace {
const int maxLineLength = sipMaxLineLength;
const int maxHeaders = sipMaxHeaders;

const QString &sipVersion()
{
    static const QString version = QStringLiteral("SIP/2.0");
    return version;
}

// The names real peers send, in their usual spelling: a header name equal to
// one of these shares its text instead of allocating a copy.
QString takeHeaderName(QString &token)
{
    static const QString known[] = {
        QStringLiteral("Via"), QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Call-ID"),
        QStringLiteral("CSeq"), QStringLiteral("Contact"), QStringLiteral("Max-Forwards"),
        QStringLiteral("Content-Length"), QStringLiteral("Content-Type"), QStringLiteral("Allow"),
        QStringLiteral("User-Agent"), QStringLiteral("Server"), QStringLiteral("Expires"),
        QStringLiteral("Record-Route"), QStringLiteral("Route"), QStringLiteral("Supported"),
        QStringLiteral("Session-Expires"), QStringLiteral("WWW-Authenticate"),
        QStringLiteral("Proxy-Authenticate"), QStringLiteral("Authorization"),
        QStringLiteral("Proxy-Authorization"), QStringLiteral("Require"), QStringLiteral("Accept"),
        QStringLiteral("Date"), QStringLiteral("Event"), QStringLiteral("Allow-Events"),
        QStringLiteral("Min-SE"), QStringLiteral("Subject"), QStringLiteral("P-Asserted-Identity")};
    for (const QString &name : known) {
        if (name.size() == token.size() && name == token) {
            token.resize(0);
            return name;
        }
    }
    return SipHeader::takeToken(token);
}
}

const char *parseStateName(ParseState state)
{
    switch (state) {
    case ParseState::StartWord: return "start word";
    case ParseState::RequestUri: return "request-URI";
    case ParseState::RequestVersion: return "request version";
    case ParseState::StatusCode: return "status code";
    case ParseState::ReasonPhrase: return "reason phrase";
    case ParseState::HeaderName: return "header name";
    case ParseState::BeforeValue: return "before value";
    case ParseState::HeaderValue: return "header value";
    case ParseState::Body: return "body";
    case ParseState::Complete: return "complete";
    }
    return "unknown";
}

SipMessageParser::SipMessageParser()
{
    methods = new SipRequestMethod();
    headerFactory = new SipHeaderFactory(this);
}

SipMessageParser::~SipMessageParser()
{
    delete headerFactory;
    delete methods;
}

// The parser alone has no use for a message: it is dropped.
void SipMessageParser::processSip(SipPacket *message)
{
    delete message;
}

SipParseResult SipMessageParser::parse(QString text, QString serverIp, QString serverPort)
{
    failure.clear();
    bool completed = false;
    parseState = ParseState::StartWord;
    token.resize(0);
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
    // The usual version text is shared, not copied.
    auto takeVersion = [&]() {
        if (token == sipVersion()) {
            token.resize(0);
            message->version = sipVersion();
        } else {
            message->version = SipHeader::takeToken(token);
        }
    };

    while (running) {
        if (parseState != ParseState::Complete) {
            if (position >= size)
                break;
            currentChar = text.at(position);
            ++position;
            ++lineLength;
            if (currentChar == '\n')
                lineLength = 0;
            else if (lineLength > maxLineLength) {
                failure = QStringLiteral("line too long");
                break;
            }
        }

        switch (parseState) {
        case ParseState::StartWord: // method or version of the start line
            if (currentChar == ' ') {
                // the table's own string serves as the method: no copy
                const int known = methods->methods.indexOf(token);
                if (known >= 0) {
                    token.resize(0);
                    message = new SipRequest(this, methods->methods.at(known), text, serverIp, serverPort);
                    message->headers.reserve(16);
                    parseState = ParseState::RequestUri;
                } else if (token.trimmed() == sipVersion()) {
                    message = new SipResponse(this, text, serverIp, serverPort);
                    message->headers.reserve(16);
                    if (SipHeader::logEnabled())
                        qDebug().noquote() << "SipResponse: " + text;
                    takeVersion();
                    parseState = ParseState::StatusCode;
                } else {
                    failure = QStringLiteral("no SIP start line");
                    running = false;
                }
            } else {
                collect();
                if (running)
                    collectRun(text, QChar(' '), QChar(' '), running);
            }
            break;

        case ParseState::RequestUri:
            if (currentChar == ' ') {
                SipUri *uri = new SipUri(this);
                uri->uriText = SipHeader::takeToken(token);
                if (!uri->parse(uri->uriText)) {
                    delete uri;
                    failure = QStringLiteral("bad request-URI");
                    running = false;
                    break;
                }
                message->requestUri = uri;
                parseState = ParseState::RequestVersion;
            } else {
                collect();
                if (running)
                    collectRun(text, QChar(' '), QChar(' '), running);
            }
            break;

        case ParseState::RequestVersion: // version of the request line
            if (currentChar == '\r' || currentChar == '\n') {
                if (token.trimmed() != sipVersion()) {
                    failure = QStringLiteral("bad SIP version");
                    running = false;
                    break;
                }
                takeVersion();
                parseState = ParseState::HeaderName;
            } else {
                collect();
                if (running)
                    collectRun(text, QChar('\r'), QChar('\n'), running);
            }
            break;

        case ParseState::StatusCode:
            if (currentChar == ' ') {
                message->statusCode = SipHeader::takeToken(token);
                parseState = ParseState::ReasonPhrase;
            } else if (currentChar >= '0' && currentChar <= '9') {
                token += currentChar;
            } else {
                failure = QStringLiteral("bad status code");
                running = false;
            }
            break;

        case ParseState::ReasonPhrase:
            if (currentChar == '\r' || currentChar == '\n') {
                message->reasonPhrase = SipHeader::takeToken(token);
                parseState = ParseState::HeaderName;
            } else {
                collect();
                if (running)
                    collectRun(text, QChar('\r'), QChar('\n'), running);
            }
            break;

        case ParseState::HeaderName:
            if (currentChar == ':') {
                headerName = takeHeaderName(token);
                parseState = ParseState::BeforeValue;
            } else if (currentChar != '\n') {
                collect();
                if (running)
                    collectRun(text, QChar(':'), QChar('\n'), running);
            }
            break;

        case ParseState::BeforeValue: // blanks between the colon and the value
            if (currentChar == ' ') {
                break;
            } else if (currentChar == '\r') {
                if (skipFold(text))
                    break;
                message->addHeader(headerName, QString());
                headerName.clear();
                if (message->headers.size() > maxHeaders) {
                    failure = QStringLiteral("too many headers");
                    running = false;
                    break;
                }
                endOfLine(text, message);
            } else {
                collect();
                parseState = ParseState::HeaderValue;
            }
            break;

        case ParseState::HeaderValue:
            if (currentChar == '\r') {
                if (skipFold(text)) {
                    token += ' ';
                    break;
                }
                message->addHeader(headerName, SipHeader::takeToken(token));
                headerName.clear();
                if (message->headers.size() > maxHeaders) {
                    failure = QStringLiteral("too many headers");
                    running = false;
                    break;
                }
                endOfLine(text, message);
            } else {
                collect();
                if (running)
                    collectRun(text, QChar('\r'), QChar('\r'), running);
            }
            break;

        case ParseState::Body: // body: everything to the end of the datagram
            collect();
            if (running)
                collectRun(text, QChar(), QChar(), running);
            if (running && position >= size) {
                message->addHeader(QStringLiteral("Content"), SipHeader::takeToken(token));
                parseState = ParseState::Complete;
            }
            break;

        case ParseState::Complete: {
            SipPacket *complete = message;
            message = nullptr;
            completed = true;
            try {
                processSip(complete);
            } catch (...) {
                qDebug().noquote() << "try catch parseSipPacketReady";
            }
            lineLength = 0;
            token.resize(0);
            // One datagram carries one message (RFC 3261 section 18.3):
            // whatever follows it is discarded.
            running = false;
            break;
        }
        }
    }

    delete message;
    // the buffer stays for the next datagram: at most one line long
    token.resize(0);
    headerName.clear();
    SipParseResult result;
    if (completed) {
        result.status = SipParseResult::Status::Complete;
    } else if (!running || !failure.isEmpty()) {
        result.status = SipParseResult::Status::Malformed;
        result.reason = failure.isEmpty() ? QStringLiteral("a character the parser does not take") : failure;
    }
    return result;
}

// Collects, in one step, the characters the main loop would collect one by
// one up to (not including) `until` or `until2`: the same class check and
// line bound, without growing the token a character at a time.
void SipMessageParser::collectRun(const QString &text, QChar until, QChar until2, bool &running)
{
    // locals, so the loop keeps them in registers
    const QChar *data = text.constData();
    const int size = text.size();
    const ushort stop = until.unicode();
    const ushort stop2 = until2.unicode();
    const int start = position;
    int end = position;
    int line = lineLength;
    while (end < size) {
        const QChar c = data[end];
        const ushort u = c.unicode();
        if (u == stop || u == stop2 || !SipHeader::isAccepted(c))
            break; // left for the main loop
        ++line;
        if (u == '\n') {
            line = 0;
        } else if (line > maxLineLength) {
            running = false;
            break;
        }
        ++end;
    }
    lineLength = line;
    token.append(data + start, end - start);
    position = end;
    if (running && position > start)
        currentChar = data[position - 1];
}

// A CR LF followed by a blank continues the header value on the next line
// (RFC 3261 section 7.3.1). Reads past the fold and returns true if there is
// one; the value then goes on with a single space.
bool SipMessageParser::skipFold(const QString &text)
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

void SipMessageParser::endOfLine(const QString &text, SipPacket *message)
{
    const int p = position; // just after the CR
    if (p + 2 >= text.size()) {
        // nothing but the line feed (and at most one more character) left
        parseState = ParseState::Complete;
        return;
    }
    position = p + 1;
    if (text.at(p) == '\n' && text.at(p + 1) == '\r' && text.at(p + 2) == '\n') {
        // the empty line: its CR LF is read next, as the start of the body
        bool noBody = false;
        for (SipHeader *h : qAsConst(message->headers)) {
            if (h->headerName.size() == 14
                && h->headerName.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0
                && h->headerValue == QLatin1String("0")) {
                noBody = true;
                break;
            }
        }
        // the body's lines are counted from here, not onto the last header
        lineLength = 0;
        parseState = noBody ? ParseState::Complete : ParseState::Body;
        return;
    }
    // the line feed is skipped unread, so the line count restarts here
    lineLength = 0;
    parseState = ParseState::HeaderName;
}

SipHeader *SipMessageParser::cloneHeader(SipHeader *h)
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

// A copy keeps where the original came from too: a later answer to a stored
// request (the 487 after a CANCEL) writes it into its Via.
template <class T>
T *SipMessageParser::copyOf(T *copy, SipPacket *src)
{
    for (SipHeader *h : qAsConst(src->headers))
        copy->headers.append(cloneHeader(h));
    copy->serverIp = src->serverIp;
    copy->serverPort = src->serverPort;
    return copy;
}

SipRequest *SipMessageParser::cloneSipRequest(SipPacket *src)
{
    return copyOf(new SipRequest(this), src);
}

SipPacket *SipMessageParser::cloneSipResponse(SipPacket *src)
{
    return copyOf<SipPacket>(new SipResponse(this), src);
}

