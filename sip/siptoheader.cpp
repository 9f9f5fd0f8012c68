#include "siptoheader.h"

#include <QDebug>

SipToHeader::SipToHeader(SipMessageParser *parser, QString name, QString value)
    : SipAddressHeader(parser, name, value)
{
    headerType = To;
    if (parseAddress(value) && logEnabled())
        qDebug().noquote() << "SipToHeader: " + toString();
}

void SipToHeader::addParameter(QString name, QString value)
{
    if (name == QLatin1String("tag"))
        tag = value;
}
