#include "sipviaheader.h"

#include <QDebug>

SipViaHeader::SipViaHeader(SipParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = Via;
    state = 0;
    pos = 0;
    token.reserve(value.size());
    // Values after the first of a comma list arrive as ", SIP/2.0/UDP ...":
    // the sent-protocol starts at the first non-blank.
    while (pos < value.size() && (value.at(pos) == ' ' || value.at(pos) == '\t'))
        ++pos;
    for (; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return;
        switch (state) {
        case 0: // sent-protocol
            if (ch == ' ') {
                protocol = SipHeader::takeToken(token);
                state = 1;
            } else {
                token += ch;
            }
            break;
        case 1: // host
            if (ch == ':' || ch == ';') {
                host = SipHeader::takeToken(token);
                state = ch == ':' ? 2 : 3;
            } else {
                token += ch;
            }
            break;
        case 2: // port
            if (ch == ';') {
                port = SipHeader::takeToken(token);
                state = 3;
            } else {
                token += ch;
            }
            break;
        case 3: // parameter name; one without "=" (a bare rport) is dropped
            if (ch == '=') {
                paramName = SipHeader::takeToken(token);
                state = 4;
            } else if (ch == ';') {
                token.resize(0);
            } else {
                token += ch;
            }
            break;
        case 4: // parameter value
            if (ch == ';') {
                addParameter(paramName, SipHeader::takeToken(token));
                state = 3;
            } else {
                token += ch;
            }
            break;
        }
    }
    if (state == 4)
        addParameter(paramName, SipHeader::takeToken(token));
    token = QString();
    if (logEnabled())
        qDebug().noquote() << "SipViaHeader: " + toString();
}

void SipViaHeader::addParameter(QString name, QString value)
{
    if (name == QLatin1String("received"))
        received = value;
    else if (name == QLatin1String("branch"))
        branch = value;
    else if (name == QLatin1String("rport"))
        rport = value;
}
