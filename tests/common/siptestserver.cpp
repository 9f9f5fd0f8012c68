#include "siptestserver.h"

#include <QSignalSpy>
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
    if (phonePort == 0)
        phonePort = port;
    return m_socket->bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
}

void SipTestServer::send(const QString &text)
{
    m_socket->writeDatagram(text.toUtf8(), phoneAddress, phonePort);
}

bool SipTestServer::waitFor(int count, int ms)
{
    QSignalSpy spy(this, &SipTestServer::datagramReceived);
    while (received.size() < count) {
        if (!spy.wait(ms))
            return received.size() >= count;
    }
    return true;
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
        QByteArray datagram(int(m_socket->pendingDatagramSize()), Qt::Uninitialized);
        const qint64 size = m_socket->readDatagram(datagram.data(), datagram.size());
        if (size < 0)
            continue;
        datagram.truncate(int(size));
        received.append(datagram);
        emit datagramReceived();
    }
}
