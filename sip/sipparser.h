#ifndef SIPPARSER_H
#define SIPPARSER_H

// The user agent's parser and builder: reads received datagrams into
// SipPacket objects and hands each to processSip; builds the requests and
// responses the user agent sends.

#include <QChar>
#include <QString>

class MainWindow;
class Sip;
class SipHeader;
class SipHeaderFactory;
class SipPacket;
class SipRequest;
class SipRequestMethod;

class SipParser
{
public:
    explicit SipParser(Sip *sip);
    virtual ~SipParser();

    // Receives every message parse() completes, and owns it from then on.
    virtual void processSip(SipPacket *message);

    // Parses one datagram's text; results arrive only through processSip, so
    // the return value is always false.
    bool parse(QString text, QString serverIp, QString serverPort);

    SipHeader *cloneHeader(SipHeader *h);
    SipRequest *cloneSipRequest(SipPacket *src);
    SipPacket *cloneSipResponse(SipPacket *src);

    int callDirection = 0;
    int callState = 0;

    // parse working state, reset by each parse() call
    int parseState = 0;
    QString token;
    QString headerName;
    int position = 0;
    int lineLength = 0;
    QChar currentChar;

    SipRequestMethod *methods = nullptr;
    Sip *sip = nullptr;
    MainWindow *mainWindow = nullptr;
    SipPacket *lastInvite = nullptr;
    SipPacket *lastInviteOk = nullptr;
    QString fromNum;
    QString fromName;
    QString fromAddr;
    QString fromAddrIp;
    QString fromAddrPort;
    QString fromTag;
    QString toNum;
    QString toAddr;
    QString toAddrIp;
    QString toAddrPort;
    QString toTag;
    QString contactNum;
    QString contactAddr;
    QString contactAddrIp;
    QString contactAddrPort;
    QString contactTag;
    QString callId_;
    QString metod_;
    QString cseqMethod;
    QString status;
    QString note;
    SipHeaderFactory *headerFactory = nullptr;

private:
    SipParser(const SipParser &) = delete;
    SipParser &operator=(const SipParser &) = delete;
    // Called after the CR that ends a header line; picks the next state.
    void endOfLine(const QString &text, SipPacket *message);
    bool skipFold(const QString &text);

public:
    // --- user agent: builders and message processing ---
};

#endif // SIPPARSER_H
