#ifndef SIPHEADER_H
#define SIPHEADER_H

// One header of a SIP message: its name and value text. Typed subclasses split
// the value into fields when constructed; serialisation only uses the text.

#include <QString>

class SipMessageParser;

class SipHeader
{
public:
    // Type codes: which class a header object is (cloneHeader copies by it).
    enum Type {
        Plain = 0, Via = 1, From = 2, To = 3, Contact = 4, Cseq = 5, Authorization = 6,
        WwwAuthenticate = 7, ProxyAuthenticate = 8, SessionExpires = 9, RecordRoute = 10,
        Content = 11
    };

    SipHeader(SipMessageParser *parser, QString name, QString value);
    virtual ~SipHeader();

    virtual QString toString();
    virtual void addParameter(QString name, QString value);

    // Characters the header, URI and message parsers take as text: ASCII
    // without NUL, and everything from U+00A0 up (UTF-8 names, Cyrillic).
    static inline bool isAccepted(QChar c)
    {
        const ushort u = c.unicode();
        return (u >= 1 && u <= 127) || u >= 0xA0;
    }
    // Whether a diagnostic line would be written; lets hot paths skip
    // formatting text that the log would throw away.
    static bool logEnabled();
    // The application tells the message layer whether its log is on (its
    // useLog setting); until it does, the default category's filter decides.
    static void setLogSwitch(bool (*logOn)());
    // Hands over the collected text and keeps the buffer for the next token,
    // so collecting costs one allocation per field rather than one per growth.
    static inline QString takeToken(QString &token)
    {
        QString taken(token.constData(), token.size());
        token.resize(0);
        return taken;
    }

    QString headerName;
    QString headerValue;
    int headerType = 0;
    SipMessageParser *parser = nullptr;

private:
    SipHeader(const SipHeader &) = delete;
    SipHeader &operator=(const SipHeader &) = delete;
};

#endif // SIPHEADER_H
