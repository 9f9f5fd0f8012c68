#ifndef SIPCONTENTHEADER_H
#define SIPCONTENTHEADER_H

#include "sipheader.h"

#include <QList>

// One SDP line: the text before the first "=" and the rest.
struct HeaderValueStruct
{
    QString key;
    QString value;
};

// The message body (always SDP), held as a header named "Content": its lines,
// and the audio port, connection address and first two payload types.
class SipContentHeader : public SipHeader
{
public:
    SipContentHeader(SipMessageParser *parser, QString name, QString value);

    QString toString() override;
    void addParameter(QString key, QString value) override;
    void setContentParams();

    // line-split working state
    int state = 0;
    QString token;
    QString paramName;
    int pos = 0;
    QChar ch;

    QString sdpPort = QStringLiteral("10000");
    QString sdpIp = QStringLiteral("127.0.0.1");
    QString codec[2] = {QStringLiteral("8"), QStringLiteral("0")};
    QList<HeaderValueStruct> sdpLines;
};

#endif // SIPCONTENTHEADER_H
