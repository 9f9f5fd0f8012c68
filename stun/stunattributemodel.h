#ifndef STUNATTRIBUTEMODEL_H
#define STUNATTRIBUTEMODEL_H

// One decoded address attribute of a STUN response (MAPPED-ADDRESS or
// XOR-MAPPED-ADDRESS), every field in host byte order.

#include <QtGlobal>

class StunAttributeModel
{
public:
    enum Family : quint8 { IPv4 = 1, IPv6 = 2 };

    quint16 type = 0;
    quint16 length = 0;
    quint8 family = 0;
    quint16 port = 0;
    // IPv4 address as a number; IPv6 attributes are skipped, never stored.
    quint32 address = 0;
};

#endif // STUNATTRIBUTEMODEL_H
