#include "tlssiptransport.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslSocket>

#include <algorithm>

TlsSipTransport::TlsSipTransport(QObject *parent) : TcpSipTransport(parent)
{
}

bool TlsSipTransport::setCaFile(const QString &path, QString *error)
{
    m_extraCas.clear();
    if (path.isEmpty())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read the CA file %1: %2").arg(path, file.errorString());
        return false;
    }
    // A CA bundle is small; anything much larger is not one.
    const QList<QSslCertificate> cas = QSslCertificate::fromData(file.read(4 << 20), QSsl::Pem);
    if (cas.isEmpty()) {
        if (error)
            *error = QStringLiteral("no PEM certificate in the CA file %1").arg(path);
        return false;
    }
    m_extraCas = cas;
    return true;
}

SipTransport::Failure TlsSipTransport::classify(const QSslError &error, QString *reason)
{
    switch (error.error()) {
    case QSslError::CertificateExpired:
        *reason = QStringLiteral("the certificate has expired");
        return Failure::CertificateExpired;
    case QSslError::CertificateNotYetValid:
        *reason = QStringLiteral("the certificate is not valid yet");
        return Failure::CertificateExpired;
    case QSslError::HostNameMismatch:
        *reason = QStringLiteral("host name mismatch: the certificate is not for this server");
        return Failure::CertificateName;
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        *reason = QStringLiteral("unknown certificate authority");
        return Failure::CertificateAuthority;
    default:
        *reason = error.errorString();
        return Failure::Certificate;
    }
}

QString TlsSipTransport::describe(const QList<QSslError> &errors, Failure *kind)
{
    // The kind is the first error that names a cause the user can act on.
    *kind = Failure::Certificate;
    QStringList reasons;
    for (const QSslError &e : errors) {
        QString reason;
        const Failure failure = classify(e, &reason);
        if (*kind == Failure::Certificate)
            *kind = failure;
        if (!reasons.contains(reason))
            reasons << reason;
    }
    return QStringLiteral("TLS certificate refused: ") + reasons.join(QStringLiteral("; "));
}

QTcpSocket *TlsSipTransport::createSocket()
{
    auto *socket = new QSslSocket(this);
    QSslConfiguration config = socket->sslConfiguration();
    config.setProtocol(QSsl::TlsV1_2OrLater);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // The default configuration trusts the system's CAs as OpenSSL looks them
    // up, one file per issuer from the hashed directory; reading the whole
    // store into a list took a quarter of a second on every connection. With
    // a CA file the handshake trusts that file alone, and a chain it does not
    // cover is checked against the system's store below.
    if (!m_extraCas.isEmpty())
        config.setCaCertificates(m_extraCas);
    socket->setSslConfiguration(config);
    m_refusal.clear();
    // Errors are ignored only when the chain, refused for an unknown CA alone,
    // passes the system's full check (CA, dates, name); otherwise the socket
    // ends the handshake itself and reports it through errorOccurred, where
    // the refusal becomes the reason.
    connect(socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
            [this, socket](const QList<QSslError> &errors) {
                const bool unknownCaAlone = std::all_of(errors.cbegin(), errors.cend(), [](const QSslError &e) {
                    QString reason;
                    return classify(e, &reason) == Failure::CertificateAuthority;
                });
                if (!m_extraCas.isEmpty() && unknownCaAlone
                    && QSslCertificate::verify(socket->peerCertificateChain(), m_host).isEmpty()) {
                    socket->ignoreSslErrors(errors);
                    return;
                }
                m_refusal = describe(errors, &m_refusalKind);
            });
    connect(socket, &QSslSocket::encrypted, this, &TlsSipTransport::onEstablished);
    connect(socket, &QSslSocket::errorOccurred, this, [this, socket] {
        if (m_refusal.isEmpty())
            fail(socket->errorString());
        else
            fail(m_refusal, m_refusalKind);
    });
    return socket;
}

void TlsSipTransport::connectSocket()
{
    // The address was resolved by the caller; the certificate must still name the host.
    static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(m_address.toString(), m_port, m_host);
}
