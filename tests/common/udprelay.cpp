#include "udprelay.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

void UdpRelay::run()
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
            if (!drop(in.data(), !fromServer))
                socket.writeDatagram(in.data(), fromServer ? client : m_server, fromServer ? clientPort : m_serverPort);
        }
    });
    if (m_bound)
        exec();
}

bool UdpRelay::drop(const QByteArray &data, bool fromClient)
{
    QMutexLocker lock(&m_mutex);
    bool dropped = std::uniform_real_distribution<double>(0, 1)(m_random) < m_loss;
    if (fromClient && !m_dropPrefix.isEmpty() && data.startsWith(m_dropPrefix)) {
        dropped = true;
        m_dropPrefix.clear();
    }
    m_seen.append({m_clock.elapsed(), fromClient, dropped, data});
    return dropped;
}
