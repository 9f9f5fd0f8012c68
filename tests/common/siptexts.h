#ifndef SIPTEXTS_H
#define SIPTEXTS_H

// Requests a server sends to the phone (account 100) in robustness tests and
// benchmarks: an incoming INVITE with an SDP offer, its CANCEL or ACK, an OPTIONS.

#include <QString>

class SipTexts
{
public:
    static QString sdp(const QString &ip = QStringLiteral("127.0.0.2"), int port = 40000);
    // `body` replaces the SDP offer when given (it may be anything).
    static QString invite(const QString &callId, int serverPort, const QString &body = sdp());
    static QString cancel(const QString &callId, int serverPort);
    static QString ack(const QString &callId, int serverPort);
    static QString options(const QString &callId, int serverPort);
};

#endif // SIPTEXTS_H
