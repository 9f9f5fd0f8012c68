#ifndef SIPTESTSERVER_H
#define SIPTESTSERVER_H

// An in-process SIP server stand-in for user-agent tests: a UDP socket on
// 127.0.0.2 and the phone's port (address sharing on both sides), which keeps
// every datagram the phone sends and sends scripted messages back. Over TCP it
// takes the phone's connection, keeps the messages it frames, and writes each
// scripted message in two segments.

#include "peerprocess.h"
#include "sipstreamframer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>

class SipTestServer : public QObject
{
    Q_OBJECT

public:
    explicit SipTestServer(QObject *parent = nullptr) : QObject(parent), m_socket(new QUdpSocket(this))
    {
        connect(m_socket, &QUdpSocket::readyRead, this, [this] {
            while (m_socket->hasPendingDatagrams()) {
                received.append(m_socket->receiveDatagram().data());
                emit datagramReceived();
            }
        });
    }

    // A UDP port that is free on both 127.0.0.1 and 127.0.0.2 right now (free on every address).
    static quint16 freePort() { return PeerProcess::freePort(); }

    bool listen(const QHostAddress &address, quint16 port)
    {
        return m_socket->bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    }
    bool listenTcp(const QHostAddress &address, quint16 port)
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

    // Sends one datagram from this socket to the phone: 127.0.0.1 and the same port; false when it could not.
    bool send(const QString &text)
    {
        if (m_tcp) {
            // Requests of ours name the stream in Via; each message is cut in two
            // segments that arrive apart.
            const QByteArray bytes = QString(text).replace("Via: SIP/2.0/UDP 127.0.0.2:", "Via: SIP/2.0/TCP 127.0.0.2:").toUtf8();
            if (!QTest::qWaitFor([this] { return m_peer != nullptr; }, 3000))
                return false;
            m_peer->write(bytes.left(bytes.size() / 2));
            m_peer->waitForBytesWritten(1000);
            QTest::qWait(5);
            return m_peer->write(bytes.mid(bytes.size() / 2)) > 0;
        }
        return m_socket->writeDatagram(text.toUtf8(), QHostAddress(QStringLiteral("127.0.0.1")), m_socket->localPort()) > 0;
    }

    // Waits until at least `count` datagrams have arrived in total, at most `ms`.
    bool waitFor(int count, int ms = 3000) { return QTest::qWaitFor([&] { return received.size() >= count; }, ms); }
    // The received datagrams as text.
    QStringList texts() const
    {
        QStringList list;
        for (const QByteArray &datagram : received)
            list << QString::fromUtf8(datagram);
        return list;
    }
    QString last() const { return received.isEmpty() ? QString() : QString::fromUtf8(received.last()); }

    QList<QByteArray> received;

signals:
    void datagramReceived();

private:
    QUdpSocket *m_socket = nullptr;
    QTcpServer *m_tcp = nullptr;
    QTcpSocket *m_peer = nullptr;
};

#endif // SIPTESTSERVER_H
