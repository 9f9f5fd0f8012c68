#include "tcpsiptransport.h"

#include <QDebug>
#include <QTcpSocket>
#include <QTimer>

namespace {
// Read a stream in pieces no larger than this: a flood cannot make one read
// allocate more than the framer's limits plus one piece.
const qint64 readChunk = 16384;
}

TcpSipTransport::TcpSipTransport(QObject *parent) : SipTransport(parent)
{
    m_reconnect = new QTimer(this);
    m_reconnect->setSingleShot(true);
    connect(m_reconnect, &QTimer::timeout, this, &TcpSipTransport::open);
}

TcpSipTransport::~TcpSipTransport()
{
    // No signals from a socket that outlives its owner's members.
    if (m_socket)
        m_socket->disconnect(this);
}

void TcpSipTransport::setServer(const QString &host, const QHostAddress &address, quint16 port)
{
    if (host == m_host && address == m_address && port == m_port)
        return;
    m_host = host;
    m_address = address;
    m_port = port;
    // A connection to the old server carries nothing for the new one.
    dropSocket();
}

quint16 TcpSipTransport::localPort() const
{
    return m_established && m_socket ? m_socket->localPort() : 0;
}

QString TcpSipTransport::localAddress() const
{
    return m_established && m_socket ? m_socket->localAddress().toString() : QString();
}

void TcpSipTransport::sendMessage(const QByteArray &message)
{
    if (m_established) {
        m_socket->write(message);
        return;
    }
    if (m_queue.size() >= maxQueued)
        m_queue.removeFirst();
    m_queue.append(message);
    if (!m_socket)
        open();
}

void TcpSipTransport::sendKeepAlive()
{
    // Only an open connection is worth keeping; a closed one opens on the next message.
    if (m_established)
        m_socket->write("\r\n\r\n");
}

void TcpSipTransport::close()
{
    m_wanted = false;
    m_queue.clear();
    dropSocket();
}

void TcpSipTransport::connectToServer()
{
    // A pending retry keeps its delay: asking again does not hurry it.
    m_wanted = true;
    if (!m_socket && !m_reconnect->isActive())
        open();
}

void TcpSipTransport::open()
{
    m_reconnect->stop();
    dropSocket();
    m_wanted = true;
    if (m_address.isNull() || m_port == 0) {
        fail(QStringLiteral("no SIP server address"));
        return;
    }
    m_socket = createSocket();
    // Reading stops at the framer's pace: Qt buffers no more than a chunk or two.
    m_socket->setReadBufferSize(2 * readChunk);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpSipTransport::readStream);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { fail(QStringLiteral("the server closed the connection")); });
    connectSocket();
}

QTcpSocket *TcpSipTransport::createSocket()
{
    auto *socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, &TcpSipTransport::onEstablished);
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { fail(socket->errorString()); });
    return socket;
}

void TcpSipTransport::connectSocket()
{
    m_socket->connectToHost(m_address, m_port);
}

void TcpSipTransport::onEstablished()
{
    m_established = true;
    qDebug().noquote().nospace() << "SipTransport " << viaName(kind()) << " connected to " << m_address.toString()
                                 << ':' << m_port << " from port " << m_socket->localPort();
    emit established();
    const QList<QByteArray> queued = m_queue;
    m_queue.clear();
    for (const QByteArray &message : queued)
        m_socket->write(message);
}

void TcpSipTransport::readStream()
{
    while (m_socket && m_established && m_socket->bytesAvailable() > 0) {
        if (!m_framer.feed(m_socket->read(readChunk))) {
            fail(QStringLiteral("the server broke SIP framing: ") + m_framer.error(), Failure::Framing);
            return;
        }
        for (int pings = m_framer.takePings(); pings > 0; --pings) {
            m_socket->write("\r\n");
            emit pingReceived();
        }
        for (const QByteArray &message : m_framer.takeMessages()) {
            emit messageReceived(message);
            // The receiver may have closed or replaced the connection.
            if (!m_socket || !m_established)
                return;
        }
    }
}

void TcpSipTransport::fail(const QString &reason, Failure failure)
{
    if (!m_socket)
        return;
    qWarning().noquote() << "SipTransport" << viaName(kind()) << "failed:" << reason;
    // What waited for this connection is lost with it, as a datagram would be;
    // the user agent's own timers send again.
    m_queue.clear();
    dropSocket();
    emit transportError(reason, failure);
    if (m_wanted && !m_socket)
        m_reconnect->start(m_reconnectDelayMs);
}

void TcpSipTransport::dropSocket()
{
    m_established = false;
    m_framer.reset();
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
