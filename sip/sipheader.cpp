#include "sipheader.h"

#include <QDebug>
#include <QLoggingCategory>

namespace {
bool (*logSwitch)() = nullptr;
}

SipHeader::SipHeader(SipMessageParser *parser, QString name, QString value)
    : headerName(name), parser(parser)
{
    // most values arrive without surrounding blanks: share them as they are
    if (value.isEmpty() || (!value.at(0).isSpace() && !value.at(value.size() - 1).isSpace()))
        headerValue = value;
    else
        headerValue = value.trimmed();
    if (logEnabled())
        qDebug().noquote() << headerName + " : " + headerValue;
}

SipHeader::~SipHeader() = default;

QString SipHeader::toString()
{
    return headerName + ": " + headerValue + "\n";
}

void SipHeader::addParameter(QString, QString)
{
}

bool SipHeader::logEnabled()
{
    if (logSwitch)
        return logSwitch();
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}

void SipHeader::setLogSwitch(bool (*logOn)())
{
    logSwitch = logOn;
}
