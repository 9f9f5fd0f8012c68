#ifndef SIPTRANSPORT_H
#define SIPTRANSPORT_H

// How the user agent reaches its server: one object per transport (UDP, TCP,
// TLS), all talking to the one configured next hop. The user agent hands it
// whole messages and takes whole messages back; framing, connecting and
// reconnecting stay inside the transport.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class SipTransport : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Udp, Tcp, Tls };
    // Why a connection failed, for the user's words; the reason text says it for the log.
    enum class Failure { Connection, Framing, CertificateName, CertificateExpired, CertificateAuthority, Certificate,
                         CaFile };
    Q_ENUM(Failure)

    using QObject::QObject;
    ~SipTransport() override = default;

    virtual Kind kind() const = 0;
    // A stream transport delivers or fails by itself: no retransmission of
    // requests and responses (RFC 3261 17.1.1.2, 17.1.2.2).
    bool isReliable() const { return kind() != Kind::Udp; }

    // The next hop: `host` as configured (for TLS also the name the server's
    // certificate must carry), `address` resolved from it, and its port.
    virtual void setServer(const QString &host, const QHostAddress &address, quint16 port) = 0;
    // The local port: UDP binds it; the stream transports connect from an
    // ephemeral port and only report theirs once connected.
    virtual void bindLocal(quint16 port) = 0;
    virtual quint16 localPort() const = 0;
    // A connected stream's own address (empty otherwise): what the server
    // sees, so what Via and Contact name.
    virtual QString localAddress() const { return QString(); }

    // One whole message. A stream transport opens its connection on demand
    // and sends what was queued once it is up.
    virtual void sendMessage(const QByteArray &message) = 0;
    // RFC 5626 3.5.1 keep-alive: CRLFCRLF, on a stream and as a datagram alike.
    virtual void sendKeepAlive() = 0;
    virtual void close() = 0;
    // A stream transport opens its connection unless one is open, being
    // opened or waiting out the retry delay; UDP has nothing to open.
    virtual void connectToServer() {}
    virtual bool isConnected() const { return true; }
    // TLS trusts the CAs of this PEM file besides the system's; false, with
    // the reason in *error, when the file gives none. Other transports ignore it.
    virtual bool setCaFile(const QString &path, QString *error = nullptr)
    {
        Q_UNUSED(path)
        Q_UNUSED(error)
        return true;
    }

    // "UDP", "TCP" or "TLS", as Via writes it.
    static QString viaName(Kind kind)
    {
        switch (kind) {
        case Kind::Udp: return QStringLiteral("UDP");
        case Kind::Tcp: return QStringLiteral("TCP");
        case Kind::Tls: return QStringLiteral("TLS");
        }
        return QString();
    }

signals:
    // One complete message from the server.
    void messageReceived(const QByteArray &message);
    // A stream is up (for TLS: verified); what was queued has gone out.
    void established();
    // A connection that could not be made or was lost, or a TLS verification
    // failure, with the reason for the log and its kind for the status line.
    void transportError(const QString &reason, SipTransport::Failure failure);
};

#endif // SIPTRANSPORT_H
