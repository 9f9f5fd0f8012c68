#include "siprecordrouteheader.h"

#include <QDebug>

SipRecordRouteHeader::SipRecordRouteHeader(SipMessageParser *parser, QString name, QString value)
    : SipAddressHeader(parser, name, value)
{
    headerType = RecordRoute;
    if (parseAddress(value) && logEnabled())
        qDebug().noquote() << "SipRecordRouteHeader: " + toString();
}

void SipRecordRouteHeader::addParameter(QString name, QString value)
{
    if (name == QLatin1String("tag"))
        tag = value;
    else if (name == QLatin1String("expires"))
        expires = value;
    else if (name == QLatin1String("vireg"))
        vireg = value;
}
