#ifndef SIPSTREAMFRAMER_H
#define SIPSTREAMFRAMER_H

// Cuts a TCP or TLS byte stream into SIP messages (RFC 3261 18.3): the header
// section ends at the first empty line and the body is exactly Content-Length
// bytes long. Between messages CRLFCRLF is a keep-alive ping and a lone CRLF
// its pong (RFC 5626 3.5.1). Everything it buffers is bounded: a peer that
// streams without end breaks a limit and the stream is refused.

#include <QByteArray>
#include <QList>
#include <QString>

class SipStreamFramer
{
public:
    // The header section may not outgrow the largest UDP datagram, so a stream
    // peer can send nothing a datagram peer could not.
    static constexpr int maxHeaderBytes = 65535;
    static constexpr int maxBodyBytes = 65535;

    // Takes the next bytes of the stream, split anywhere. False once the
    // stream is broken (error() says why): the owner closes the connection,
    // and everything fed after that is ignored until reset().
    bool feed(const QByteArray &bytes);
    // The whole messages completed so far, oldest first.
    QList<QByteArray> takeMessages();
    // How many pings arrived since the last call; each wants one CRLF back.
    int takePings();

    bool failed() const { return !m_error.isEmpty(); }
    QString error() const { return m_error; }
    // Bytes held for an unfinished message.
    int buffered() const { return m_buffer.size(); }
    // For a new connection.
    void reset();

private:
    bool frame();
    bool fail(const QString &why);
    // The Content-Length of a header section, -1 when it is missing or bad.
    qint64 contentLength(const QByteArray &headers);

    QByteArray m_buffer;
    QList<QByteArray> m_messages;
    int m_pings = 0;
    QString m_error;
    // Header scan state of the message at the head of m_buffer.
    int m_scanned = 0;
    int m_lines = 0;
    int m_headerEnd = -1;
    qint64 m_bodyLength = -1;
};

#endif // SIPSTREAMFRAMER_H
