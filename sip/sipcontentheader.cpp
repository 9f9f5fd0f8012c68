#include "sipcontentheader.h"

#include <QDebug>

SipContentHeader::SipContentHeader(SipParser *parser, QString name, QString value)
    : SipHeader(parser, name, value)
{
    headerType = Content;
    // Split into key=value lines; characters outside the accepted classes are
    // dropped from the text rather than ending the body.
    token.reserve(value.size());
    for (pos = 0; pos < value.size(); ++pos) {
        ch = value.at(pos);
        if (state == 0) {
            if (ch == '=') {
                paramName = SipHeader::takeToken(token);
                state = 1;
            } else if (ch != '\r' && ch != '\n' && isAccepted(ch)) {
                token += ch;
            }
        } else {
            if (ch == '\r' || ch == '\n') {
                addParameter(paramName, token);
                paramName.clear();
                token.resize(0);
                state = 0;
            } else if (isAccepted(ch)) {
                token += ch;
            }
        }
    }
    token = QString();
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
            const QStringList parts = line.value.split(' ');
            if (parts.size() > 1) {
                sdpPort = parts.at(1);
                if (log)
                    qDebug().noquote() << "!!! SipContentHeader: setContentParams: port = " + sdpPort;
            }
            if (parts.size() > 3) {
                codec[0] = parts.at(3);
                if (log)
                    qDebug().noquote() << "!!! SipContentHeader: setContentParams: codec[0] = " + codec[0];
            }
            if (parts.size() > 4) {
                codec[1] = parts.at(4);
                if (log)
                    qDebug().noquote() << "!!! SipContentHeader: setContentParams: codec[1] = " + codec[1];
            }
        } else if (line.key == QLatin1String("c") && line.value.contains(QLatin1String("IN IP4"))) {
            const QStringList parts = line.value.split(' ');
            if (parts.size() > 2) {
                sdpIp = parts.at(2);
                if (log)
                    qDebug().noquote() << "!!! SipContentHeader: setContentParams: ip = " + sdpIp;
            }
        }
    }
}
