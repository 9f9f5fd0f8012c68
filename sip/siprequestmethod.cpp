#include "siprequestmethod.h"

SipRequestMethod::SipRequestMethod()
    : methods({"REGISTER", "INVITE", "ACK", "CANCEL", "BYE", "PRACK", "SUBSCRIBE", "NOTIFY",
               "PUBLISH", "INFO", "REFER", "MESSAGE", "UPDATE", "OPTIONS"})
{
}

bool SipRequestMethod::contains(const QString &method) const
{
    return methods.contains(method, Qt::CaseSensitive);
}
