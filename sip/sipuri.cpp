#include "sipuri.h"

#include "sipheader.h"
#include "siptokenrun.h"

#include <QDebug>

SipUri::SipUri(SipMessageParser *parser)
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
    SipTokenRun run(text);
    const int last = text.size() - 1;
    for (pos = 0; pos < text.size(); ++pos) {
        ch = text.at(pos);
        if (!SipHeader::isAccepted(ch))
            return false;
        switch (state) {
        case 0: // scheme
            if (ch == ':') {
                // the list's own string serves as the scheme: no copy
                const int known = schemes.indexOf(run.view());
                if (known < 0)
                    return false;
                scheme = schemes.at(known);
                run.clear();
                state = text.contains('@') ? 1 : 3;
            } else {
                run.add(pos);
            }
            break;
        case 1: // user
            if (ch == ':' || ch == '@') {
                user = run.take();
                state = ch == ':' ? 2 : 3;
            } else if (ch == ' ') {
                return false;
            } else {
                run.add(pos);
                if (pos == last)
                    return false;
            }
            break;
        case 2: // password
            if (ch == '@') {
                password = run.take();
                state = 3;
            } else {
                run.add(pos);
            }
            break;
        case 3: // host
            if (ch == ':' || ch == ';' || ch == '?') {
                host = run.take();
                state = ch == ':' ? 4 : ch == ';' ? 5 : 6;
            } else {
                run.add(pos);
                if (pos == last)
                    host = run.take();
            }
            break;
        case 4: // port
            if (ch == ';' || ch == '?') {
                port = run.take();
                state = ch == ';' ? 5 : 6;
            } else {
                run.add(pos);
                if (pos == last)
                    port = run.take();
            }
            break;
        case 5: // URI parameters
            if (ch == '?') {
                uriParams = run.take();
                state = 6;
            } else {
                run.add(pos);
                if (pos == last)
                    uriParams = run.take();
            }
            break;
        case 6: // URI headers
            run.add(pos);
            if (pos == last)
                uriHeaders = run.take();
            break;
        }
    }
    // A "@" sends the parse to the user state; ending there means no host.
    if (state == 1)
        return false;
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
