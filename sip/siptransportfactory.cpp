#include "siptransportfactory.h"

#include "tlssiptransport.h"
#include "udpsipsocket.h"

SipTransport::Kind sipTransportKind(const QString &setting)
{
    const QString name = setting.trimmed().toUpper();
    if (name == QLatin1String("TCP"))
        return SipTransport::Kind::Tcp;
    if (name == QLatin1String("TLS"))
        return SipTransport::Kind::Tls;
    return SipTransport::Kind::Udp;
}

SipTransport *createSipTransport(SipTransport::Kind kind, QObject *parent)
{
    switch (kind) {
    case SipTransport::Kind::Udp: return new UDPSipSocket(parent);
    case SipTransport::Kind::Tcp: return new TcpSipTransport(parent);
    case SipTransport::Kind::Tls: return new TlsSipTransport(parent);
    }
    return new UDPSipSocket(parent);
}

quint16 sipServerPort(SipTransport::Kind kind, const QString &setting)
{
    const quint16 port = quint16(setting.toUInt());
    if (kind == SipTransport::Kind::Tls && port == TcpSipTransport::defaultPort)
        return TlsSipTransport::defaultPort;
    return port;
}
