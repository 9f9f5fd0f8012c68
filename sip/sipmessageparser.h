#ifndef SIPMESSAGEPARSER_H
#define SIPMESSAGEPARSER_H

// Reads the text of one received datagram into a SipPacket and hands each
// completed message to processSip; copies messages and headers. Knows nothing
// of the user agent, so the message layer builds without it.

#include <QChar>
#include <QString>

class SipHeader;
class SipHeaderFactory;
class SipPacket;
class SipRequest;
class SipRequestMethod;

// Longest line, in characters before its line feed, that the parser reads.
constexpr int sipMaxLineLength = 10000;
// Real messages carry a few dozen headers; a datagram of empty header lines
// or comma-only Via lists would otherwise cost a heap object per character.
constexpr int sipMaxHeaders = 1000;

// Where the parser stands in a message.
enum class ParseState {
    StartWord, RequestUri, RequestVersion, StatusCode, ReasonPhrase, HeaderName, BeforeValue, HeaderValue, Body,
    Complete
};
// Names a parse state for the log.
const char *parseStateName(ParseState state);

// What one datagram came to: a message handed to processSip, text that ended
// before the message did, or text that is no SIP message, with the reason.
struct SipParseResult
{
    enum class Status { Complete, Incomplete, Malformed };
    Status status = Status::Incomplete;
    QString reason;
};

class SipMessageParser
{
public:
    SipMessageParser();
    virtual ~SipMessageParser();

    // Receives every message parse() completes, and owns it from then on.
    virtual void processSip(SipPacket *message);

    // Parses one datagram's text; a complete message arrives through processSip.
    SipParseResult parse(QString text, QString serverIp, QString serverPort);

    SipHeader *cloneHeader(SipHeader *h);
    SipRequest *cloneSipRequest(SipPacket *src);
    SipPacket *cloneSipResponse(SipPacket *src);

    // parse working state, reset by each parse() call
    ParseState parseState = ParseState::StartWord;
    QString token;
    QString headerName;
    int position = 0;
    int lineLength = 0;
    QChar currentChar;

    SipRequestMethod *methods = nullptr;
    SipHeaderFactory *headerFactory = nullptr;

private:
    SipMessageParser(const SipMessageParser &) = delete;
    SipMessageParser &operator=(const SipMessageParser &) = delete;
    // Called after the CR that ends a header line; picks the next state.
    void endOfLine(const QString &text, SipPacket *message);
    bool skipFold(const QString &text);
    void collectRun(const QString &text, QChar until, QChar until2, bool &running);
    QString failure; // why the datagram being parsed is malformed
    // Fills `copy` with clones of src's headers and its source address.
    template <class T>
    T *copyOf(T *copy, SipPacket *src);
};

#endif // SIPMESSAGEPARSER_H
