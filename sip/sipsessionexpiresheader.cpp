#include "sipsessionexpiresheader.h"

#include "siptokenrun.h"

#include <QDebug>

SipSessionExpiresHeader::SipSessionExpiresHeader(SipMessageParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = SessionExpires;
    SipTokenRun run(value);
    bool refresherValue = false;
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return;
        switch (state) {
        case 0: // delta-seconds
            if (ch == ';') {
                deltaSeconds = run.take();
                state = 1;
            } else {
                run.add(pos);
            }
            break;
        case 1: // parameter name; only the refresher is kept
            if (ch == '=') {
                refresherValue = run.view() == QLatin1String("refresher");
                run.clear();
                state = 2;
            } else if (ch == ';') {
                run.clear();
            } else {
                run.add(pos);
            }
            break;
        case 2: // parameter value
            if (ch == ';') {
                if (refresherValue)
                    addParameter(QStringLiteral("refresher"), run.take());
                run.clear();
                state = 1;
            } else {
                run.add(pos);
            }
            break;
        }
    }
    if (state == 0)
        deltaSeconds = run.take();
    else if (state == 2 && refresherValue)
        addParameter(QStringLiteral("refresher"), run.take());
    if (logEnabled())
        qDebug().noquote() << "SipSessionExpiresHeader: " + toString();
}

void SipSessionExpiresHeader::addParameter(QString name, QString value)
{
    if (name == QLatin1String("refresher"))
        refresher = value;
}
