#include "sipuri.h"

#include "sipheader.h"

#include <QDebug>

SipUri::SipUri(SipParser *parser)
    : parser(parser)
{
    static const QStringList known = {
        QStringLiteral("sip"), QStringLiteral("sips"), QStringLiteral("tel"), QStringLiteral("pres"),
        QStringLiteral("im"), QStringLiteral("xmpp"), QStringLiteral("h323")};
    schemes = known;
}

bool SipUri::parse(QString text)
{
    state = 0;
    token.resize(0);
    token.reserve(text.size());
    const int last = text.size() - 1;
    for (pos = 0; pos < text.size(); ++pos) {
        ch = text.at(pos);
        if (!SipHeader::isAccepted(ch))
            return false;
        switch (state) {
        case 0: // scheme
            if (ch == ':') {
                if (!schemes.contains(token, Qt::CaseSensitive))
                    return false;
                scheme = SipHeader::takeToken(token);
                state = text.contains('@') ? 1 : 3;
            } else {
                token += ch;
            }
            break;
        case 1: // user
            if (ch == ':' || ch == '@') {
                user = SipHeader::takeToken(token);
                state = ch == ':' ? 2 : 3;
            } else if (ch == ' ') {
                return false;
            } else {
                token += ch;
                if (pos == last)
                    return false;
            }
            break;
        case 2: // password
            if (ch == '@') {
                password = SipHeader::takeToken(token);
                state = 3;
            } else {
                token += ch;
            }
            break;
        case 3: // host
            if (ch == ':' || ch == ';' || ch == '?') {
                host = SipHeader::takeToken(token);
                state = ch == ':' ? 4 : ch == ';' ? 5 : 6;
            } else {
                token += ch;
                if (pos == last)
                    host = token;
            }
            break;
        case 4: // port
            if (ch == ';' || ch == '?') {
                port = SipHeader::takeToken(token);
                state = ch == ';' ? 5 : 6;
            } else {
                token += ch;
                if (pos == last)
                    port = token;
            }
            break;
        case 5: // URI parameters
            if (ch == '?') {
                uriParams = SipHeader::takeToken(token);
                state = 6;
            } else {
                token += ch;
                if (pos == last)
                    uriParams = token;
            }
            break;
        case 6: // URI headers
            token += ch;
            if (pos == last)
                uriHeaders = token;
            break;
        }
    }
    // A "@" sends the parse to the user state; ending there means no host.
    if (state == 1)
        return false;
    token = QString();
    if (SipHeader::logEnabled())
        qDebug().noquote() << "SipUri: " + toString();
    return true;
}

QString SipUri::toString()
{
    QString text = scheme + ":";
    if (!user.isEmpty())
        text += user + "@";
    text += host;
    if (!port.isEmpty())
        text += ":" + port;
    return text;
}
