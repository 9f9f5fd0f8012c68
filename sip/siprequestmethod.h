#ifndef SIPREQUESTMETHOD_H
#define SIPREQUESTMETHOD_H

// The request methods this phone recognises on the wire.

#include <QString>
#include <QStringList>

class SipRequestMethod
{
public:
    SipRequestMethod();

    // Exact, case-sensitive: "invite" is not a method.
    bool contains(const QString &method) const;

    QStringList methods;
};

#endif // SIPREQUESTMETHOD_H
