// Feeds arbitrary datagrams to the STUN response decoding against a fixed
// transaction ID (the seeds carry it, so most inputs get past the ID check).
#include "stunattributemodel.h"
#include "stunmessage.h"

#include <QByteArray>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QByteArray transactionId = QByteArray::fromHex("0102030405060708090a0b0c");
    const QByteArray datagram(reinterpret_cast<const char *>(data), int(size));
    if (!StunMessage::answers(datagram, transactionId) || StunMessage::isErrorResponse(datagram))
        return 0;
    const QList<StunAttributeModel *> found = StunMessage::decodeAttributes(datagram);
    if (!found.isEmpty() && QHostAddress(found.first()->address).toString().isEmpty())
        __builtin_trap();
    qDeleteAll(found);
    return 0;
}
