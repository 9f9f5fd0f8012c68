#include "siprequestmethod.h"

SipRequestMethod::SipRequestMethod()
{
    // every table holds the same names: share one list
    static const QStringList known = {
        QStringLiteral("REGISTER"), QStringLiteral("INVITE"), QStringLiteral("ACK"),
        QStringLiteral("CANCEL"), QStringLiteral("BYE"), QStringLiteral("PRACK"),
        QStringLiteral("SUBSCRIBE"), QStringLiteral("NOTIFY"), QStringLiteral("PUBLISH"),
        QStringLiteral("INFO"), QStringLiteral("REFER"), QStringLiteral("MESSAGE"),
        QStringLiteral("UPDATE"), QStringLiteral("OPTIONS")};
    methods = known;
}

bool SipRequestMethod::contains(const QString &method) const
{
    return methods.contains(method, Qt::CaseSensitive);
}
