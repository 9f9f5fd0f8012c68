#include "fakestunserver.h"

#include <QNetworkDatagram>

FakeStunServer::FakeStunServer(QObject *parent)
    : QObject(parent)
{
    m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
        while (m_socket.hasPendingDatagrams())
            requests.append(m_socket.receiveDatagram().data());
    });
}
