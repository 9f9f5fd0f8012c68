#ifndef DTMFINFO_H
#define DTMFINFO_H

// The key an INFO request carries: "application/dtmf-relay" bodies
// ("Signal=5\r\nDuration=160") and "application/dtmf" bodies ("5").

#include <QChar>
#include <QString>

// The key 0-9 * # A-D, or a null char for any other type or body.
QChar dtmfInfoDigit(const QString &contentType, const QString &body);

#endif // DTMFINFO_H
