#include "sipaddressheader.h"

SipAddressHeader::SipAddressHeader(SipParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
}

bool SipAddressHeader::parseAddress(const QString &value)
{
    // From keeps "<sip:host>" without a user part unrecognised: only "@" ends
    // its user part. To also ends it at ">", Contact and Record-Route at ">"
    // or ";", and these two also end a parameter value at ">".
    const bool userEndsAtBracket = headerType != From;
    const bool userEndsAtSemicolon = headerType == Contact || headerType == RecordRoute;
    const bool valueEndsAtBracket = userEndsAtSemicolon;

    state = 0;
    token.reserve(value.size());
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return false;
        switch (state) {
        case 0: // before the URI
            if (ch == '"') {
                token.resize(0);
                state = 1;
            } else if (ch == '<') {
                token.resize(0);
                state = 2;
            } else if (ch == ':') {
                scheme = SipHeader::takeToken(token);
                state = 3;
            } else {
                token += ch;
            }
            break;
        case 1: // quoted display name
            if (ch == '"') {
                name = SipHeader::takeToken(token);
                state = 0;
            } else {
                token += ch;
            }
            break;
        case 2: // scheme
            if (ch == ':') {
                scheme = SipHeader::takeToken(token);
                state = 3;
            } else {
                token += ch;
            }
            break;
        case 3: // user
            if (ch == '@') {
                num = SipHeader::takeToken(token);
                state = 4;
            } else if ((ch == '>' && userEndsAtBracket) || (ch == ';' && userEndsAtSemicolon)) {
                addr = SipHeader::takeToken(token);
                state = 5;
            } else {
                token += ch;
            }
            break;
        case 4: // host and port
            if (ch == '>' || ch == ';') {
                addr = SipHeader::takeToken(token);
                state = 5;
            } else {
                token += ch;
            }
            break;
        case 5: // parameter name
            if (ch == '=') {
                paramName = SipHeader::takeToken(token);
                state = 6;
            } else if (ch == ';') {
                token.resize(0);
                paramName.clear();
            } else {
                token += ch;
            }
            break;
        case 6: // parameter value
            if (ch == ';' || (ch == '>' && valueEndsAtBracket)) {
                addParameter(paramName, SipHeader::takeToken(token));
                state = 5;
            } else {
                token += ch;
            }
            break;
        }
    }
    if (state == 4)
        addr = token;
    else if (state == 6)
        addParameter(paramName, SipHeader::takeToken(token));
    token = QString();

    addrIp = addr;
    addrPort = QStringLiteral("5060");
    const int colon = addr.indexOf(':');
    if (colon >= 0) {
        addrIp = addr.left(colon);
        const int next = addr.indexOf(':', colon + 1);
        addrPort = addr.mid(colon + 1, next < 0 ? -1 : next - colon - 1);
    }
    return true;
}
