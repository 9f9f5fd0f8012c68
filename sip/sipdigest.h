#ifndef SIPDIGEST_H
#define SIPDIGEST_H

// Digest responses per RFC 2617: 32 lower-case hex digits of MD5, the
// credentials hashed as UTF-8.

#include <QString>

// Without qop: MD5(HA1:nonce:HA2).
QString digestResponse(const QString &method, const QString &username, const QString &password,
                       const QString &realm, const QString &uri, const QString &nonce);
// With qop "auth": MD5(HA1:nonce:nc:cnonce:qop:HA2).
QString digestResponseAuth(const QString &method, const QString &username, const QString &password,
                           const QString &realm, const QString &uri, const QString &nonce, const QString &cnonce,
                           const QString &nc, const QString &qop);

#endif // SIPDIGEST_H
