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

// Values of SipMessageParser::parseState (3 is not used).
enum ParseState {
    ParseStartWord = 0, ParseRequestUri = 1, ParseRequestVersion = 2, ParseStatusCode = 4,
    ParseReasonPhrase = 5, ParseHeaderName = 6, ParseBeforeValue = 7, ParseHeaderValue = 8,
    ParseBody = 9, ParseComplete = 10
};
// Names a parse state for the log.
const char *parseStateName(int state);

class SipMessageParser
{
public:
    SipMessageParser();
    virtual ~SipMessageParser();

    // Receives every message parse() completes, and owns it from then on.
    virtual void processSip(SipPacket *message);

    // Parses one datagram's text; results arrive only through processSip, so
    // the return value is always false.
    bool parse(QString text, QString serverIp, QString serverPort);

    SipHeader *cloneHeader(SipHeader *h);
    SipRequest *cloneSipRequest(SipPacket *src);
    SipPacket *cloneSipResponse(SipPacket *src);

    // parse working state, reset by each parse() call
    int parseState = ParseStartWord;
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
    // Fills `copy` with clones of src's headers and its source address.
    template <class T>
    T *copyOf(T *copy, SipPacket *src);
};

#endif // SIPMESSAGEPARSER_H
