#include "sipcontentheader.h"

#include "siptokenrun.h"

#include <QDebug>

namespace {

// SDP keys are single letters: those share a table entry instead of a copy.
QString takeKey(SipTokenRun &run)
{
    static const QString letters[26] = {
        QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"), QStringLiteral("e"), QStringLiteral("f"),
        QStringLiteral("g"), QStringLiteral("h"), QStringLiteral("i"), QStringLiteral("j"), QStringLiteral("k"), QStringLiteral("l"),
        QStringLiteral("m"), QStringLiteral("n"), QStringLiteral("o"), QStringLiteral("p"), QStringLiteral("q"), QStringLiteral("r"),
        QStringLiteral("s"), QStringLiteral("t"), QStringLiteral("u"), QStringLiteral("v"), QStringLiteral("w"), QStringLiteral("x"),
        QStringLiteral("y"), QStringLiteral("z")};
    const QStringView key = run.view();
    if (key.size() == 1 && key[0] >= QLatin1Char('a') && key[0] <= QLatin1Char('z')) {
        const QString &shared = letters[key[0].unicode() - 'a'];
        run.clear();
        return shared;
    }
    return run.take();
}

// The index-th field of text split at single spaces, empty fields counted,
// as QString::split(' ') gives it; false when there are fewer fields.
bool field(const QString &text, int index, QString &out)
{
    int start = 0;
    for (int i = 0; i < index; ++i) {
        const int space = text.indexOf(QLatin1Char(' '), start);
        if (space < 0)
            return false;
        start = space + 1;
    }
    int end = text.indexOf(QLatin1Char(' '), start);
    if (end < 0)
        end = text.size();
    out = QString(text.constData() + start, end - start);
    return true;
}

} // namespace

SipContentHeader::SipContentHeader(SipMessageParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = Content;
    // Split into key=value lines; characters outside the accepted classes are
    // dropped from the text rather than ending the body.
    if (!value.isEmpty())
        sdpLines.reserve(16);
    SipTokenRun run(value);
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (state == 0) {
            if (ch == '=') {
                paramName = takeKey(run);
                state = 1;
            } else if (ch != '\r' && ch != '\n' && isAccepted(ch)) {
                run.add(pos);
            }
        } else {
            if (ch == '\r' || ch == '\n') {
                addParameter(paramName, run.take());
                paramName.clear();
                state = 0;
            } else if (isAccepted(ch)) {
                run.add(pos);
            }
        }
    }
    paramName.clear();
    setContentParams();
}

QString SipContentHeader::toString()
{
    QString text;
    for (const HeaderValueStruct &line : qAsConst(sdpLines))
        text += line.key + "=" + line.value + "\n";
    return text;
}

void SipContentHeader::addParameter(QString key, QString value)
{
    sdpLines.append({key, value});
}

void SipContentHeader::setContentParams()
{
    const bool log = logEnabled();
    for (const HeaderValueStruct &line : qAsConst(sdpLines)) {
        if (line.key == QLatin1String("m") && line.value.contains(QLatin1String("audio"))) {
            if (field(line.value, 1, sdpPort) && log)
                qDebug().noquote() << "!!! SipContentHeader: setContentParams: port = " + sdpPort;
            if (field(line.value, 3, codec[0]) && log)
                qDebug().noquote() << "!!! SipContentHeader: setContentParams: codec[0] = " + codec[0];
            if (field(line.value, 4, codec[1]) && log)
                qDebug().noquote() << "!!! SipContentHeader: setContentParams: codec[1] = " + codec[1];
        } else if (line.key == QLatin1String("c") && line.value.contains(QLatin1String("IN IP4"))) {
            if (field(line.value, 2, sdpIp) && log)
                qDebug().noquote() << "!!! SipContentHeader: setContentParams: ip = " + sdpIp;
        }
    }
}
