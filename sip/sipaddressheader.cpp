#include "sipaddressheader.h"

#include "siptokenrun.h"

SipAddressHeader::SipAddressHeader(SipMessageParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
}

namespace {

// The parameters the address classes keep; the others are never copied out.
const QString *knownParameter(QStringView name)
{
    static const QString names[] = {QStringLiteral("tag"), QStringLiteral("expires"),
                                    QStringLiteral("vireg")};
    return SipTokenRun::find(name, names);
}

} // namespace

bool SipAddressHeader::parseAddress(const QString &value)
{
    // From keeps "<sip:host>" without a user part unrecognised: only "@" ends
    // its user part. To also ends it at ">", Contact and Record-Route at ">"
    // or ";", and these two also end a parameter value at ">".
    const bool userEndsAtBracket = headerType != From;
    const bool userEndsAtSemicolon = headerType == Contact || headerType == RecordRoute;
    const bool valueEndsAtBracket = userEndsAtSemicolon;

    static const QString schemes[] = {QStringLiteral("sip"), QStringLiteral("sips")};
    state = 0;
    SipTokenRun run(value);
    const QString *parameter = nullptr;
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return false;
        switch (state) {
        case 0: // before the URI
            if (ch == '"') {
                run.clear();
                state = 1;
            } else if (ch == '<') {
                run.clear();
                state = 2;
            } else if (ch == ':') {
                scheme = run.takeShared(schemes);
                state = 3;
            } else {
                run.add(pos);
            }
            break;
        case 1: // quoted display name
            if (ch == '"') {
                name = run.take();
                state = 0;
            } else {
                run.add(pos);
            }
            break;
        case 2: // scheme
            if (ch == ':') {
                scheme = run.takeShared(schemes);
                state = 3;
            } else {
                run.add(pos);
            }
            break;
        case 3: // user
            if (ch == '@') {
                num = run.take();
                state = 4;
            } else if ((ch == '>' && userEndsAtBracket) || (ch == ';' && userEndsAtSemicolon)) {
                addr = run.take();
                state = 5;
            } else {
                run.add(pos);
            }
            break;
        case 4: // host and port
            if (ch == '>' || ch == ';') {
                addr = run.take();
                state = 5;
            } else {
                run.add(pos);
            }
            break;
        case 5: // parameter name
            if (ch == '=') {
                parameter = knownParameter(run.view());
                run.clear();
                state = 6;
            } else if (ch == ';') {
                run.clear();
                parameter = nullptr;
            } else {
                run.add(pos);
            }
            break;
        case 6: // parameter value
            if (ch == ';' || (ch == '>' && valueEndsAtBracket)) {
                if (parameter)
                    addParameter(*parameter, run.take());
                run.clear();
                state = 5;
            } else {
                run.add(pos);
            }
            break;
        }
    }
    if (state == 4)
        addr = run.take();
    else if (state == 6 && parameter)
        addParameter(*parameter, run.take());

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
