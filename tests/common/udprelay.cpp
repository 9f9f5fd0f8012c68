#include "udprelay.h"

#include <QEventLoop>
#include <QNetworkDatagram>
#include <QUdpSocket>

UdpRelay::UdpRelay(const QHostAddress &address, quint16 port, const QHostAddress &server, quint16 serverPort)
    : m_address(address), m_server(server), m_port(port), m_serverPort(serverPort)
{
}

UdpRelay::~UdpRelay()
{
    quit();
    wait();
}

bool UdpRelay::listen()
{
    m_clock.start();
    start();
    m_ready.acquire();
    return m_bound;
}

void UdpRelay::run()
{
    QUdpSocket socket;
    m_bound = socket.bind(m_address, m_port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
    m_ready.release();
    if (!m_bound)
        return;
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

void UdpRelay::setLoss(double share, quint32 seed)
{
    QMutexLocker lock(&m_mutex);
    m_loss = share;
    m_random.seed(seed);
}

void UdpRelay::dropOnce(const QByteArray &prefix)
{
    QMutexLocker lock(&m_mutex);
    m_dropPrefix = prefix;
}

QList<UdpRelay::Datagram> UdpRelay::seen() const
{
    QMutexLocker lock(&m_mutex);
    return m_seen;
}

void UdpRelay::clear()
{
    QMutexLocker lock(&m_mutex);
    m_seen.clear();
}
