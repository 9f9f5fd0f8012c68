#include "siptexts.h"

#include <QStringList>

namespace {
QString request(const QString &method, const QString &callId, int serverPort, const QStringList &extra,
                const QString &body)
{
    QStringList lines{method + " sip:100@127.0.0.1 SIP/2.0",
                      QStringLiteral("Via: SIP/2.0/UDP 127.0.0.2:%1;rport;branch=z9hG4bK%2").arg(serverPort).arg(callId),
                      "From: \"Caller\" <sip:200@127.0.0.2>;tag=f" + callId,
                      "To: <sip:100@127.0.0.2>",
                      "Call-ID: " + callId,
                      "CSeq: 1 " + method,
                      QStringLiteral("Contact: <sip:200@127.0.0.2:%1>").arg(serverPort),
                      "Max-Forwards: 70"};
    lines += extra;
    lines << "Content-Length: " + QString::number(body.toUtf8().size());
    return lines.join("\r\n") + "\r\n\r\n" + body;
}
}

QString SipTexts::sdp(const QString &ip, int port)
{
    return QStringLiteral("v=0\r\no=200 1 1 IN IP4 %1\r\ns=call\r\nc=IN IP4 %1\r\nt=0 0\r\n"
                          "m=audio %2 RTP/AVP 8 0\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000\r\n")
        .arg(ip)
        .arg(port);
}

QString SipTexts::invite(const QString &callId, int serverPort, const QString &body)
{
    return request("INVITE", callId, serverPort, {"Content-Type: application/sdp"}, body);
}

QString SipTexts::cancel(const QString &callId, int serverPort)
{
    return request("CANCEL", callId, serverPort, {}, QString());
}

QString SipTexts::ack(const QString &callId, int serverPort)
{
    return request("ACK", callId, serverPort, {}, QString());
}

QString SipTexts::options(const QString &callId, int serverPort)
{
    return request("OPTIONS", callId, serverPort, {}, QString());
}
