#include "sipdigestheader.h"

#include "siptokenrun.h"

SipDigestHeader::SipDigestHeader(SipMessageParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
}

namespace {

// The parameters the Digest classes keep (the challenge's nine include the
// credentials' six); the others are never copied out.
const QString *knownParameter(QStringView name)
{
    static const QString names[] = {
        QStringLiteral("realm"), QStringLiteral("nonce"), QStringLiteral("qop"), QStringLiteral("opaque"),
        QStringLiteral("algorithm"), QStringLiteral("username"), QStringLiteral("uri"),
        QStringLiteral("response"), QStringLiteral("domain")};
    return SipTokenRun::find(name, names);
}

} // namespace

bool SipDigestHeader::parseDigest(const QString &value)
{
    bool quoted = false;
    state = 0;
    SipTokenRun run(value);
    const QString *parameter = nullptr;
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (!isAccepted(ch))
            return false;
        switch (state) {
        case 0: // auth scheme
            if (ch == ' ') {
                if (run.view().compare(QLatin1String("Digest"), Qt::CaseInsensitive) != 0)
                    return false;
                run.clear();
                state = 1;
            } else {
                run.add(pos);
            }
            break;
        case 1: // parameter name
            if (ch == '=') {
                parameter = knownParameter(run.view());
                run.clear();
                quoted = false;
                state = 2;
            } else if (ch != ' ') {
                run.add(pos);
            }
            break;
        case 2: // parameter value; a quoted list such as qop="auth,auth-int"
                // keeps its commas, or the pairs after it would be lost
            if (ch == '"')
                quoted = !quoted;
            if (ch == ',' && !quoted) {
                if (parameter)
                    addParameter(*parameter, run.take());
                run.clear();
                state = 1;
            } else {
                run.add(pos);
            }
            break;
        }
    }
    if (state == 2 && parameter)
        addParameter(*parameter, run.take());
    return true;
}

QString SipDigestHeader::unquoted(QString value)
{
    return value.remove('"');
}
