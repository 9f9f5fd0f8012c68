#include "sipfromheader.h"

#include <QDebug>

SipFromHeader::SipFromHeader(SipMessageParser *parser, QString name, QString value)
    : SipAddressHeader(parser, name, value)
{
    headerType = From;
    if (parseAddress(value) && logEnabled())
        qDebug().noquote() << "SipFromHeader: " + toString();
}

void SipFromHeader::addParameter(QString name, QString value)
{
    if (name == QLatin1String("tag"))
        tag = value;
}
