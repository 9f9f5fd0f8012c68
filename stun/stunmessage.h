#ifndef STUNMESSAGE_H
#define STUNMESSAGE_H

// STUN message coding (RFC 5389): the Binding Request and the address
// attributes of a response. No socket; the client sends and waits.

#include <QByteArray>
#include <QList>

class StunAttributeModel;

class StunMessage
{
public:
    static constexpr int headerSize = 20;
    static constexpr quint32 magicCookie = 0x2112A442;
    static constexpr int transactionIdSize = 12;

    // The 20-byte Binding Request carrying transactionId.
    static QByteArray bindingRequest(const QByteArray &transactionId);
    // Whether the datagram is long enough for a header and carries this
    // (12-byte) transaction ID.
    static bool answers(const QByteArray &datagram, const QByteArray &transactionId);
    static bool isErrorResponse(const QByteArray &datagram);
    // The IPv4 MAPPED-ADDRESS and XOR-MAPPED-ADDRESS attributes in message
    // order, owned by the caller; never reads past the datagram or the
    // message length.
    static QList<StunAttributeModel *> decodeAttributes(const QByteArray &datagram);
};

#endif // STUNMESSAGE_H
