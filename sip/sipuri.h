#ifndef SIPURI_H
#define SIPURI_H

// A SIP, tel or similar URI split into its parts; the request-URI of every
// request.

#include <QString>
#include <QStringList>

class SipMessageParser;

class SipUri
{
public:
    explicit SipUri(SipMessageParser *parser);

    // Fills the fields from text; false when the text is rejected (fields set
    // before the rejection keep their values).
    bool parse(QString text);
    // scheme ":" [user "@"] host [":" port]; password, parameters and headers
    // are not written.
    QString toString();

    SipMessageParser *parser = nullptr;
    QStringList schemes;

    // parse working state
    int state = 0;
    QString token;
    int pos = 0;
    QChar ch;

    QString uriText;
    QString scheme;
    QString user;
    QString password;
    QString host;
    QString port;
    QString uriParams;
    QString uriHeaders;
};

#endif // SIPURI_H
