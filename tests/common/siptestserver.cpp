#include "siptestserver.h"

#include "sipstreamframer.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>

SipTestServer::SipTestServer(QObject *parent)
    : QObject(parent), m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &SipTestServer::readPending);
}

quint16 SipTestServer::freePort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0))
            continue;
        const quint16 port = probe.localPort();
        QUdpSocket other;
        if (other.bind(QHostAddress(QStringLiteral("127.0.0.2")), port))
            return port;
    }
    return 0;
}

bool SipTestServer::listen(const QHostAddress &address, quint16 port)
{
    return m_socket->bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
}

bool SipTestServer::listenTcp(const QHostAddress &address, quint16 port)
{
    m_tcp = new QTcpServer(this);
    connect(m_tcp, &QTcpServer::newConnection, this, [this] {
        m_peer = m_tcp->nextPendingConnection();
        auto framer = std::make_shared<SipStreamFramer>();
        connect(m_peer, &QTcpSocket::readyRead, this, [this, framer, peer = m_peer] {
            framer->feed(peer->readAll());
            for (const QByteArray &message : framer->takeMessages()) {
                received.append(message);
                emit datagramReceived();
            }
        });
    });
    return m_tcp->listen(address, port);
}

void SipTestServer::send(const QString &text)
{
    if (m_tcp) {
        // Requests of ours name the stream in Via; each message is cut in two
        // segments that arrive apart.
        const QByteArray bytes = QString(text).replace("Via: SIP/2.0/UDP 127.0.0.2:", "Via: SIP/2.0/TCP 127.0.0.2:").toUtf8();
        if (!QTest::qWaitFor([this] { return m_peer != nullptr; }, 3000))
            return;
        m_peer->write(bytes.left(bytes.size() / 2));
        m_peer->waitForBytesWritten(1000);
        QTest::qWait(5);
        m_peer->write(bytes.mid(bytes.size() / 2));
        return;
    }
    m_socket->writeDatagram(text.toUtf8(), QHostAddress(QStringLiteral("127.0.0.1")), m_socket->localPort());
}

bool SipTestServer::waitFor(int count, int ms)
{
    return QTest::qWaitFor([&] { return received.size() >= count; }, ms);
}

QStringList SipTestServer::texts() const
{
    QStringList list;
    for (const QByteArray &datagram : received)
        list << QString::fromUtf8(datagram);
    return list;
}

QString SipTestServer::last() const
{
    return received.isEmpty() ? QString() : QString::fromUtf8(received.last());
}

void SipTestServer::readPending()
{
    while (m_socket->hasPendingDatagrams()) {
        received.append(m_socket->receiveDatagram().data());
        emit datagramReceived();
    }
}
