#include "stunclient.h"
#include "stunattributemodel.h"
#include "stunmessage.h"

#include <QDebug>
#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

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
    transactionId = QByteArray(StunMessage::transactionIdSize, Qt::Uninitialized);
    uchar *out = reinterpret_cast<uchar *>(transactionId.data());
    for (int i = 0; i < 3; ++i)
        qToLittleEndian<quint32>(QRandomGenerator::system()->generate(), out + 4 * i);
}

QByteArray StunClient::bindingRequest() const
{
    return StunMessage::bindingRequest(transactionId);
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
    if (!StunMessage::answers(datagram, transactionId)) {
        qDebug() << "Deu merda STUN";
        return false;
    }
    if (StunMessage::isErrorResponse(datagram)) {
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
    attributes = StunMessage::decodeAttributes(datagram);
    for (const StunAttributeModel *attribute : qAsConst(attributes)) {
        current_addr.port = attribute->port;
        current_addr.address = attribute->address;
        qDebug() << "!!!! StunClient current_addr.port: " << current_addr.port;
        qDebug() << "!!!! StunClient current_addr.address.ipv4.num: " << current_addr.address;
    }
}

void StunClient::clearAttributes()
{
    qDeleteAll(attributes);
    attributes.clear();
}
