#include "tlssiptransport.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslSocket>

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

QString TlsSipTransport::describe(const QList<QSslError> &errors)
{
    QStringList reasons;
    for (const QSslError &e : errors) {
        QString reason;
        switch (e.error()) {
        case QSslError::CertificateExpired:
            reason = QStringLiteral("the certificate has expired");
            break;
        case QSslError::CertificateNotYetValid:
            reason = QStringLiteral("the certificate is not valid yet");
            break;
        case QSslError::HostNameMismatch:
            reason = QStringLiteral("host name mismatch: the certificate is not for this server");
            break;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            reason = QStringLiteral("unknown certificate authority");
            break;
        default:
            reason = e.errorString();
            break;
        }
        if (!reasons.contains(reason))
            reasons << reason;
    }
    return QStringLiteral("TLS certificate refused: ") + reasons.join(QStringLiteral("; "));
}

SipTransport::Failure TlsSipTransport::failureOf(const QList<QSslError> &errors)
{
    // The first error that names a cause the user can act on.
    for (const QSslError &e : errors) {
        switch (e.error()) {
        case QSslError::HostNameMismatch:
            return Failure::CertificateName;
        case QSslError::CertificateExpired:
        case QSslError::CertificateNotYetValid:
            return Failure::CertificateExpired;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            return Failure::CertificateAuthority;
        default:
            break;
        }
    }
    return Failure::Certificate;
}

QTcpSocket *TlsSipTransport::createSocket()
{
    auto *socket = new QSslSocket(this);
    QSslConfiguration config = socket->sslConfiguration();
    config.setProtocol(QSsl::TlsV1_2OrLater);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setCaCertificates(QSslConfiguration::systemCaCertificates() + m_extraCas);
    socket->setSslConfiguration(config);
    m_refusal.clear();
    // Errors are never ignored: the socket ends the handshake itself and
    // reports it through errorOccurred, where the refusal becomes the reason.
    connect(socket, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
            [this](const QList<QSslError> &errors) {
                m_refusal = describe(errors);
                m_refusalKind = failureOf(errors);
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
