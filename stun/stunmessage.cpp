#include "stunmessage.h"
#include "stunattributemodel.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr quint16 bindingRequestType = 0x0001;
constexpr quint16 bindingErrorResponse = 0x0111;
constexpr quint16 mappedAddress = 0x0001;
constexpr quint16 xorMappedAddress = 0x0020;
constexpr int transactionIdOffset = 8;

quint16 readU16(const QByteArray &data, int offset)
{
    return qFromBigEndian<quint16>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

quint32 readU32(const QByteArray &data, int offset)
{
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

} // namespace

QByteArray StunMessage::bindingRequest(const QByteArray &transactionId)
{
    QByteArray request(headerSize, '\0');
    uchar *out = reinterpret_cast<uchar *>(request.data());
    qToBigEndian<quint16>(bindingRequestType, out);
    qToBigEndian<quint16>(0, out + 2);
    qToBigEndian<quint32>(magicCookie, out + 4);
    const int idSize = qMin(transactionId.size(), transactionIdSize);
    memcpy(out + transactionIdOffset, transactionId.constData(), static_cast<size_t>(idSize));
    return request;
}

bool StunMessage::answers(const QByteArray &datagram, const QByteArray &transactionId)
{
    return datagram.size() >= headerSize && transactionId.size() == transactionIdSize
        && datagram.mid(transactionIdOffset, transactionIdSize) == transactionId;
}

bool StunMessage::isErrorResponse(const QByteArray &datagram)
{
    return datagram.size() >= 2 && readU16(datagram, 0) == bindingErrorResponse;
}

QList<StunAttributeModel *> StunMessage::decodeAttributes(const QByteArray &datagram)
{
    QList<StunAttributeModel *> found;
    if (datagram.size() < headerSize)
        return found;

    const int messageEnd = headerSize + readU16(datagram, 2);
    const int end = qMin(messageEnd, datagram.size());
    const quint32 cookie = readU32(datagram, 4);

    int pos = headerSize;
    while (pos + 4 <= end) {
        const quint16 type = readU16(datagram, pos);
        const quint16 length = readU16(datagram, pos + 2);
        const int value = pos + 4;
        // An attribute running past the message or the datagram ends the walk;
        // what was decoded before it stays.
        if (value + length > end)
            break;

        const bool isMapped = type == mappedAddress;
        const bool isXorMapped = (type & 0x7FFF) == xorMappedAddress;
        if ((isMapped || isXorMapped) && length >= 8
            && quint8(datagram.at(value + 1)) == StunAttributeModel::IPv4) {
            auto *attribute = new StunAttributeModel;
            attribute->type = type;
            attribute->length = length;
            attribute->family = StunAttributeModel::IPv4;
            attribute->port = readU16(datagram, value + 2);
            attribute->address = readU32(datagram, value + 4);
            if (isXorMapped) {
                attribute->port ^= static_cast<quint16>(cookie >> 16);
                attribute->address ^= cookie;
            }
            found.append(attribute);
        }

        pos = value + ((length + 3) & ~3);
    }
    return found;
}
