#include "sipcseqheader.h"

#include "siptokenrun.h"

#include <QDebug>

SipCseqHeader::SipCseqHeader(SipMessageParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = Cseq;
    SipTokenRun run(value);
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return;
        if (state == 0) {
            if (ch == ' ') {
                number = run.take();
                state = 1;
            } else {
                run.add(pos);
            }
        } else if (ch != '\r' && ch != '\n') {
            run.add(pos);
        }
    }
    if (state == 1) {
        static const QString methods[] = {
            QStringLiteral("INVITE"), QStringLiteral("REGISTER"), QStringLiteral("ACK"), QStringLiteral("BYE"),
            QStringLiteral("CANCEL"), QStringLiteral("OPTIONS")};
        cseqMethod = run.takeShared(methods);
    }
    if (logEnabled())
        qDebug().noquote() << "SipCseqHeader: " + toString();
}
