#pragma once

// A UDP relay in front of a SIP server, as a NAT router would be: it listens
// on one address and port, forwards what its client sends to the server and
// what comes from the server to the client (the last other address it heard
// from). It runs on its own thread, so a test blocked in a QProcess wait
// delays no traffic. What passes it is seen by a LoopTap.

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSemaphore>
#include <QThread>
#include <QUdpSocket>

class UdpRelay : public QThread
{
public:
    UdpRelay(const QHostAddress &address, quint16 port, const QHostAddress &server, quint16 serverPort)
        : m_address(address), m_server(server), m_port(port), m_serverPort(serverPort) {}
    ~UdpRelay() override { quit(), wait(); }

    // Binds the address (shared with a phone bound to every address) and
    // starts relaying; false when the bind failed.
    bool listen()
    {
        start();
        m_ready.acquire();
        return m_bound;
    }

protected:
    void run() override
    {
        QUdpSocket socket;
        m_bound = socket.bind(m_address, m_port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
        m_ready.release();
        QHostAddress client;
        quint16 clientPort = 0;
        QObject::connect(&socket, &QUdpSocket::readyRead, [&] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram in = socket.receiveDatagram();
                const bool fromServer = in.senderAddress() == m_server && in.senderPort() == m_serverPort;
                if (!fromServer) {
                    client = in.senderAddress();
                    clientPort = quint16(in.senderPort());
                }
                socket.writeDatagram(in.data(), fromServer ? client : m_server, fromServer ? clientPort : m_serverPort);
            }
        });
        if (m_bound)
            exec();
    }

private:
    const QHostAddress m_address, m_server;
    const quint16 m_port, m_serverPort;
    QSemaphore m_ready;
    bool m_bound = false;
};
