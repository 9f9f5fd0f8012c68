#include "sipdigestheader.h"

SipDigestHeader::SipDigestHeader(SipParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
}

bool SipDigestHeader::parseDigest(const QString &value)
{
    bool quoted = false;
    state = 0;
    token.reserve(value.size());
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return false;
        switch (state) {
        case 0: // auth scheme
            if (ch == ' ') {
                if (token.compare(QLatin1String("Digest"), Qt::CaseInsensitive) != 0)
                    return false;
                token.resize(0);
                state = 1;
            } else {
                token += ch;
            }
            break;
        case 1: // parameter name
            if (ch == '=') {
                paramName = SipHeader::takeToken(token);
                quoted = false;
                state = 2;
            } else if (ch != ' ') {
                token += ch;
            }
            break;
        case 2: // parameter value; a quoted list such as qop="auth,auth-int"
                // keeps its commas, or the pairs after it would be lost
            if (ch == '"')
                quoted = !quoted;
            if (ch == ',' && !quoted) {
                addParameter(paramName, SipHeader::takeToken(token));
                state = 1;
            } else {
                token += ch;
            }
            break;
        }
    }
    if (state == 2)
        addParameter(paramName, SipHeader::takeToken(token));
    token = QString();
    return true;
}

QString SipDigestHeader::unquoted(QString value)
{
    return value.remove('"');
}
