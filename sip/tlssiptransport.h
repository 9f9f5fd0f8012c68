#ifndef TLSSIPTRANSPORT_H
#define TLSSIPTRANSPORT_H

// SIP over one TLS connection (TLS 1.2 or newer) to the server. The server's
// certificate must chain to a system CA or to one from the CA file and must
// name the host given to setServer; anything else ends the connection with
// the reason, and no byte of SIP is written before the handshake is done.

#include "tcpsiptransport.h"

#include <QList>
#include <QSslCertificate>
#include <QSslError>

class TlsSipTransport : public TcpSipTransport
{
    Q_OBJECT

public:
    static constexpr quint16 defaultPort = 5061;

    explicit TlsSipTransport(QObject *parent = nullptr);

    Kind kind() const override { return Kind::Tls; }
    // Trusts the CAs of a PEM file (one or more certificates) besides the
    // system's; an empty path trusts the system's alone. False, with the
    // reason in *error, when the file cannot be read or holds no certificate.
    bool setCaFile(const QString &path, QString *error = nullptr) override;
    // The reason logged for a refused certificate, in words, and in *kind the
    // first cause the user can act on (name, dates, CA).
    static QString describe(const QList<QSslError> &errors, Failure *kind);
    // One error's kind, and its reason in words.
    static Failure classify(const QSslError &error, QString *reason);

protected:
    QTcpSocket *createSocket() override;
    void connectSocket() override;

private:
    QList<QSslCertificate> m_extraCas;
    QString m_refusal;
    Failure m_refusalKind = Failure::Certificate;
};

#endif // TLSSIPTRANSPORT_H
