#include "stunclient.h"
#include "stunattributemodel.h"

#include <QDebug>
#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

namespace {

constexpr quint16 bindingErrorResponse = 0x0111;
constexpr quint16 mappedAddress = 0x0001;
constexpr quint16 xorMappedAddress = 0x0020;
constexpr int transactionIdOffset = 8;
constexpr int transactionIdSize = 12;

quint16 readU16(const QByteArray &data, int offset)
{
    return qFromBigEndian<quint16>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

quint32 readU32(const QByteArray &data, int offset)
{
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(data.constData()) + offset);
}

} // namespace

StunClient::StunClient(QObject *parent)
    : QUdpSocket(parent)
{
}

StunClient::~StunClient()
{
    clearAttributes();
}

void StunClient::setStunClient(const QString &url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    qDebug() << "!!!!StunClient:" << url;
    qDebug() << "!!!!StunClient:" << parsed.host();

    const QHostInfo info = QHostInfo::fromName(parsed.host());
    const QList<QHostAddress> found = info.addresses();
    if (found.isEmpty())
        return;

    // Only IPv4 mappings are decoded, so an IPv4 server is preferred where
    // the name has both kinds.
    QHostAddress address = found.first();
    for (const QHostAddress &candidate : found) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            address = candidate;
            break;
        }
    }

    this->url = url;
    serverAddress = address;
    // A URL without a port means the registered STUN port.
    serverPort = static_cast<quint16>(parsed.port(defaultPort));
    qDebug() << "!!!!StunClient host: " << serverAddress.toString();
    qDebug() << "!!!!StunClient port: " << serverPort;
}

StunClient::StunAddr StunClient::getCurrent_addr() const
{
    return current_addr;
}

void StunClient::newTransactionId()
{
    // Drawn from the system generator: predictable IDs would let any host
    // forge the answer before the request is sent.
    transactionId = QByteArray(transactionIdSize, Qt::Uninitialized);
    uchar *out = reinterpret_cast<uchar *>(transactionId.data());
    for (int i = 0; i < 3; ++i)
        qToLittleEndian<quint32>(QRandomGenerator::system()->generate(), out + 4 * i);
}

QByteArray StunClient::bindingRequest() const
{
    QByteArray request(headerSize, '\0');
    uchar *out = reinterpret_cast<uchar *>(request.data());
    qToBigEndian<quint16>(0x0001, out);
    qToBigEndian<quint16>(0, out + 2);
    qToBigEndian<quint32>(magicCookie, out + 4);
    const int idSize = qMin(transactionId.size(), transactionIdSize);
    memcpy(out + transactionIdOffset, transactionId.constData(), static_cast<size_t>(idSize));
    return request;
}

void StunClient::binding()
{
    // The wait serves other events; one of them asking for another lookup on
    // this socket would swallow the answer awaited here.
    if (waiting) {
        qDebug() << "!!!StunClient: lookup already running";
        return;
    }
    newTransactionId();

    // The RTP socket later binds the port the mapping was learned for, so the
    // port must be shareable. Each lookup starts from a fresh port: RTP, bound
    // later on the previous one, would be handed this answer; a fresh socket
    // also holds no late answer to an earlier request.
    // Shared ports count as free, so the kernel may hand back the very port
    // RTP holds; a second try gets another.
    for (int attempt = 0; attempt < 2; ++attempt) {
        abort();
        if (!bind(QHostAddress(QHostAddress::AnyIPv4), 0, ShareAddress | ReuseAddressHint)) {
            qDebug() << "!!!StunClient bind failed:" << errorString();
            qDebug() << "Deu merda STUN";
            return;
        }
        if (localPort == 0 || QUdpSocket::localPort() != localPort)
            break;
    }
    if (writeDatagram(bindingRequest(), serverAddress, serverPort) < 0) {
        qDebug() << "!!!StunClient send failed:" << errorString();
        qDebug() << "Deu merda STUN";
        return;
    }

    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &QUdpSocket::readyRead, &loop, &QEventLoop::quit);
    timer.start(requestTimeoutMs);
    if (!hasPendingDatagrams()) {
        waiting = true;
        loop.exec();
        waiting = false;
    }

    QByteArray datagram;
    if (hasPendingDatagrams())
        datagram = receiveDatagram().data();
    qDebug() << "!!!datagram len:" << datagram.size();
    qDebug() << "!!!datagram data:" << datagram.toHex();

    processResponse(datagram);
}

bool StunClient::processResponse(const QByteArray &datagram)
{
    if (datagram.size() < headerSize || transactionId.size() != transactionIdSize
        || datagram.mid(transactionIdOffset, transactionIdSize) != transactionId) {
        qDebug() << "Deu merda STUN";
        return false;
    }
    if (readU16(datagram, 0) == bindingErrorResponse) {
        qDebug() << "Deu merda2 STUN";
        return false;
    }

    decodeAttributes(datagram);
    if (attributes.isEmpty()) {
        // a success without an IPv4 mapping is a failed lookup
        qDebug() << "Deu merda STUN";
        return false;
    }

    const StunAttributeModel *first = attributes.first();
    stunIp = QHostAddress(first->address).toString();
    stunPort = first->port;
    localPort = QUdpSocket::localPort();
    qDebug() << "!!!! StunClient stunIp: " << stunIp;
    qDebug() << "!!!! StunClient stunPort: " << stunPort;
    qDebug() << "!!!! StunClient Port: " << current_addr.port;
    qDebug() << "!!!! StunClient local Port: " << localPort;

    emit updatedStunSignal(stunIp, stunPort, localPort);
    return true;
}

void StunClient::decodeAttributes(const QByteArray &datagram)
{
    clearAttributes();
    if (datagram.size() < headerSize)
        return;

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
            current_addr.port = attribute->port;
            current_addr.address = attribute->address;
            qDebug() << "!!!! StunClient current_addr.port: " << current_addr.port;
            qDebug() << "!!!! StunClient current_addr.address.ipv4.num: " << current_addr.address;
            attributes.append(attribute);
        }

        pos = value + ((length + 3) & ~3);
    }
}

void StunClient::clearAttributes()
{
    qDeleteAll(attributes);
    attributes.clear();
}
