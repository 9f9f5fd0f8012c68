#ifndef SIPTRANSPORTFACTORY_H
#define SIPTRANSPORTFACTORY_H

// The one place where a transport is chosen and made.

#include "siptransport.h"

// The kind the `transport` setting names ("udp", "UDP", "tcp", "tls"; any
// other text is UDP).
SipTransport::Kind sipTransportKind(const QString &setting);
SipTransport *createSipTransport(SipTransport::Kind kind, QObject *parent);

#endif // SIPTRANSPORTFACTORY_H
