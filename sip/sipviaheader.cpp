#include "sipviaheader.h"

#include "siptokenrun.h"

#include <QDebug>

namespace {

// The parameters addParameter keeps; the others are never copied out.
const QString *knownParameter(QStringView name)
{
    static const QString names[] = {QStringLiteral("received"), QStringLiteral("branch"),
                                    QStringLiteral("rport")};
    return SipTokenRun::find(name, names);
}

} // namespace

SipViaHeader::SipViaHeader(SipMessageParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = Via;
    state = 0;
    pos = 0;
    SipTokenRun run(value);
    const QString *parameter = nullptr;
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
                static const QString common[] = {QStringLiteral("SIP/2.0/UDP")};
                protocol = run.takeShared(common);
                state = 1;
            } else {
                run.add(pos);
            }
            break;
        case 1: // host
            if (ch == ':' || ch == ';') {
                host = run.take();
                state = ch == ':' ? 2 : 3;
            } else {
                run.add(pos);
            }
            break;
        case 2: // port
            if (ch == ';') {
                port = run.take();
                state = 3;
            } else {
                run.add(pos);
            }
            break;
        case 3: // parameter name; one without "=" (a bare rport) is dropped
            if (ch == '=') {
                parameter = knownParameter(run.view());
                run.clear();
                state = 4;
            } else if (ch == ';') {
                run.clear();
            } else {
                run.add(pos);
            }
            break;
        case 4: // parameter value
            if (ch == ';') {
                if (parameter)
                    addParameter(*parameter, run.take());
                run.clear();
                state = 3;
            } else {
                run.add(pos);
            }
            break;
        }
    }
    if (state == 4 && parameter)
        addParameter(*parameter, run.take());
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
