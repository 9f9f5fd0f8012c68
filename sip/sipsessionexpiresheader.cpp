#include "sipsessionexpiresheader.h"

#include <QDebug>

SipSessionExpiresHeader::SipSessionExpiresHeader(SipParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = SessionExpires;
    token.reserve(value.size());
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return;
        switch (state) {
        case 0: // delta-seconds
            if (ch == ';') {
                deltaSeconds = SipHeader::takeToken(token);
                state = 1;
            } else {
                token += ch;
            }
            break;
        case 1: // parameter name
            if (ch == '=') {
                paramName = SipHeader::takeToken(token);
                state = 2;
            } else if (ch == ';') {
                token.resize(0);
            } else {
                token += ch;
            }
            break;
        case 2: // parameter value
            if (ch == ';') {
                addParameter(paramName, SipHeader::takeToken(token));
                state = 1;
            } else {
                token += ch;
            }
            break;
        }
    }
    if (state == 0)
        deltaSeconds = token;
    else if (state == 2)
        addParameter(paramName, SipHeader::takeToken(token));
    token = QString();
    if (logEnabled())
        qDebug().noquote() << "SipSessionExpiresHeader: " + toString();
}

void SipSessionExpiresHeader::addParameter(QString name, QString value)
{
    if (name == QLatin1String("refresher"))
        refresher = value;
}
