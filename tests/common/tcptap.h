#pragma once

// A TCP relay that keeps the client's bytes as they crossed the wire: the
// capture that shows whether a stream carried SIP in clear text.

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

class TcpTap : public QTcpServer
{
public:
    TcpTap(const QHostAddress &target, quint16 port) : m_target(target), m_port(port) {}

    QByteArray wire; // everything the clients sent
    int connections = 0;

protected:
    void incomingConnection(qintptr fd) override
    {
        ++connections;
        auto *in = new QTcpSocket(this), *out = new QTcpSocket(this);
        in->setSocketDescriptor(fd);
        out->connectToHost(m_target, m_port);
        connect(in, &QTcpSocket::readyRead, this, [this, in, out] { wire += in->peek(in->bytesAvailable()), out->write(in->readAll()); });
        connect(out, &QTcpSocket::readyRead, in, [in, out] { in->write(out->readAll()); });
        connect(in, &QTcpSocket::disconnected, out, &QTcpSocket::disconnectFromHost);
        connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
    }

private:
    QHostAddress m_target;
    quint16 m_port;
};
