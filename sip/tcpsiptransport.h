#ifndef TCPSIPTRANSPORT_H
#define TCPSIPTRANSPORT_H

// SIP over one TCP connection to the server (RFC 3261 18.3): opened on
// demand, messages held until it is up, framed by Content-Length on the way
// in, and reopened after a loss once the retry delay has passed. Requests
// from the server arrive on the same connection.

#include "sipstreamframer.h"
#include "siptransport.h"

#include <QList>

class QTcpSocket;
class QTimer;

class TcpSipTransport : public SipTransport
{
    Q_OBJECT

public:
    static constexpr quint16 defaultPort = 5060;
    // The registration retry's interval: a lost connection comes back at the same pace.
    static constexpr int defaultReconnectDelayMs = 5000;
    // Messages waiting for the connection; beyond this the oldest go.
    static constexpr int maxQueued = 64;

    explicit TcpSipTransport(QObject *parent = nullptr);
    ~TcpSipTransport() override;

    Kind kind() const override { return Kind::Tcp; }
    void setServer(const QString &host, const QHostAddress &address, quint16 port) override;
    // The connection leaves from an ephemeral port; the port is only kept.
    void bindLocal(quint16 port) override { m_bindPort = port; }
    quint16 localPort() const override;
    QString localAddress() const override;
    void sendMessage(const QByteArray &message) override;
    void sendKeepAlive() override;
    void close() override;
    void connectToServer() override;
    bool isConnected() const override { return m_established; }

    void setReconnectDelay(int ms) { m_reconnectDelayMs = ms; }
    // True once messages can be written (for TLS: after the handshake).
    bool isEstablished() const { return m_established; }

signals:
    // The server sent a CRLFCRLF ping; the transport has answered it.
    void pingReceived();

protected:
    // Makes the socket of one connection attempt, wired to call
    // onEstablished() or fail(); then connectSocket() starts m_socket.
    virtual QTcpSocket *createSocket();
    virtual void connectSocket();
    // Sends the queue: the connection is ready for SIP.
    void onEstablished();
    // Drops the connection with a reason and, unless closed by the owner,
    // tries again after the delay.
    void fail(const QString &reason, Failure failure = Failure::Connection);

    QString m_host;
    QHostAddress m_address;
    quint16 m_port = 0;
    QTcpSocket *m_socket = nullptr;

private:
    void open();
    void readStream();
    void dropSocket();

    quint16 m_bindPort = 0;
    int m_reconnectDelayMs = defaultReconnectDelayMs;
    bool m_established = false;
    bool m_wanted = false;
    QList<QByteArray> m_queue;
    SipStreamFramer m_framer;
    QTimer *m_reconnect = nullptr;
};

#endif // TCPSIPTRANSPORT_H
