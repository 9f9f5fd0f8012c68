#include "siptransportfactory.h"

#include "udpsipsocket.h"

SipTransport::Kind sipTransportKind(const QString &setting)
{
    // Only UDP is written yet: a stored "TCP" or "TLS" keeps the phone on UDP
    // until its transport class exists.
    Q_UNUSED(setting)
    return SipTransport::Kind::Udp;
}

SipTransport *createSipTransport(SipTransport::Kind kind, QObject *parent)
{
    switch (kind) {
    case SipTransport::Kind::Udp:
    case SipTransport::Kind::Tcp:
    case SipTransport::Kind::Tls:
        break;
    }
    return new UDPSipSocket(parent);
}
