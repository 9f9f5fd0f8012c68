#include "sipheader.h"

#include "mainwindow.h"

#include <QDebug>
#include <QLoggingCategory>

SipHeader::SipHeader(SipParser *parser, QString name, QString value)
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
    // The message handler drops everything while useLog is off; without a main
    // window (tools, tests) the default category's filter decides.
    if (pW)
        return pW->useLog;
    return QLoggingCategory::defaultCategory()->isDebugEnabled();
}
