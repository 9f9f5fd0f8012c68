#include "sipcseqheader.h"

#include <QDebug>

SipCseqHeader::SipCseqHeader(SipParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = Cseq;
    token.reserve(value.size());
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return;
        if (state == 0) {
            if (ch == ' ') {
                number = SipHeader::takeToken(token);
                state = 1;
            } else {
                token += ch;
            }
        } else if (ch != '\r' && ch != '\n') {
            token += ch;
        }
    }
    if (state == 1)
        cseqMethod = SipHeader::takeToken(token);
    token = QString();
    if (logEnabled())
        qDebug().noquote() << "SipCseqHeader: " + toString();
}
