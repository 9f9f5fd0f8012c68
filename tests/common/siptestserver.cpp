#include "siptestserver.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

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

void SipTestServer::send(const QString &text)
{
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
