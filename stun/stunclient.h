#ifndef STUNCLIENT_H
#define STUNCLIENT_H

// STUN Binding client (RFC 5389 message format): one request from this very
// socket, a bounded wait, and the mapped address reported by a signal.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUdpSocket>

#include "stunmessage.h"

class StunAttributeModel;

class StunClient : public QUdpSocket
{
    Q_OBJECT

public:
    // The address most recently decoded from a response, host byte order.
    struct StunAddr {
        quint16 port = 0;
        quint32 address = 0;
    };

    static constexpr int headerSize = StunMessage::headerSize;
    static constexpr int requestTimeoutMs = 3000;
    static constexpr quint16 defaultPort = 3478;
    static constexpr quint32 magicCookie = StunMessage::magicCookie;

    explicit StunClient(QObject *parent = nullptr);
    ~StunClient() override;

    void setStunClient(const QString &url);
    StunAddr getCurrent_addr() const;

    // The 20-byte Binding Request carrying transactionId.
    QByteArray bindingRequest() const;
    // Steps after the datagram arrived: checks the transaction ID and the type,
    // decodes, stores the result and emits updatedStunSignal. Returns true when
    // a result was reported.
    bool processResponse(const QByteArray &datagram);
    // Walks the attributes of one response into `attributes`, never reading
    // past the datagram or the message length.
    void decodeAttributes(const QByteArray &datagram);

    QString stunIp;
    int stunPort = 0;
    int localPort = 0;
    QString url;
    QHostAddress serverAddress;
    quint16 serverPort = 0;
    QList<StunAttributeModel *> attributes;
    StunAddr current_addr;
    QByteArray transactionId;

public slots:
    void binding();

signals:
    void updatedStunSignal(QString stunIp, int stunPort, int localPort);

private:
    void clearAttributes();
    void newTransactionId();

    bool waiting = false;
};

#endif // STUNCLIENT_H
