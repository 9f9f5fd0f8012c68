#ifndef SIPTRANSPORTFACTORY_H
#define SIPTRANSPORTFACTORY_H

// The one place where a transport is chosen and made.

#include "siptransport.h"

// The kind the `transport` setting names ("UDP", "TCP", "TLS", in any case;
// any other text is UDP).
SipTransport::Kind sipTransportKind(const QString &setting);
SipTransport *createSipTransport(SipTransport::Kind kind, QObject *parent);
// The server's port for that transport: the setting, except that TLS turns
// the UDP default 5060, which the user never changed, into 5061 (RFC 3261 26.2).
quint16 sipServerPort(SipTransport::Kind kind, const QString &setting);

#endif // SIPTRANSPORTFACTORY_H
