#include "sipcontactheader.h"

#include <QDebug>

SipContactHeader::SipContactHeader(SipMessageParser *parser, QString name, QString value)
    : SipAddressHeader(parser, name, value)
{
    headerType = Contact;
    if (parseAddress(value) && logEnabled())
        qDebug().noquote() << "SipContactHeader: " + toString();
}

void SipContactHeader::addParameter(QString name, QString value)
{
    if (name == QLatin1String("tag"))
        tag = value;
    else if (name == QLatin1String("expires"))
        expires = value;
    else if (name == QLatin1String("vireg"))
        vireg = value;
}
