#include "sipstreamframer.h"

#include "sipmessageparser.h"

bool SipStreamFramer::feed(const QByteArray &bytes)
{
    if (failed())
        return false;
    m_buffer.append(bytes);
    while (frame()) {
    }
    return !failed();
}

QList<QByteArray> SipStreamFramer::takeMessages()
{
    QList<QByteArray> messages;
    messages.swap(m_messages);
    return messages;
}

int SipStreamFramer::takePings()
{
    const int pings = m_pings;
    m_pings = 0;
    return pings;
}

void SipStreamFramer::reset()
{
    m_buffer.clear();
    m_messages.clear();
    m_pings = 0;
    m_error.clear();
    m_scanned = 0;
    m_lines = 0;
    m_headerEnd = -1;
    m_bodyLength = -1;
}

bool SipStreamFramer::fail(const QString &why)
{
    m_error = why;
    m_buffer.clear();
    return false;
}

// One step: a ping, a pong or a whole message taken off the buffer. False
// when more bytes are needed or the stream failed.
bool SipStreamFramer::frame()
{
    if (m_headerEnd < 0 && m_scanned == 0 && m_buffer.startsWith('\r')) {
        // A CRLF at the end of what arrived may be the first half of a ping.
        if (m_buffer.size() < 4 && QByteArray("\r\n\r\n").startsWith(m_buffer))
            return false;
        if (m_buffer.startsWith("\r\n\r\n")) {
            m_buffer.remove(0, 4);
            ++m_pings;
            return true;
        }
        if (m_buffer.startsWith("\r\n")) {
            m_buffer.remove(0, 2); // a pong, or a CRLF before a start line (RFC 3261 7.5)
            return true;
        }
        return fail(QStringLiteral("a bare CR between messages"));
    }
    if (m_headerEnd < 0) {
        // Line by line up to the empty line, checking each bound as it goes.
        for (;;) {
            const int end = m_buffer.indexOf('\n', m_scanned);
            const int length = (end < 0 ? m_buffer.size() : end) - m_scanned;
            if (length > sipMaxLineLength)
                return fail(QStringLiteral("a line longer than %1 bytes").arg(sipMaxLineLength));
            if ((end < 0 ? m_buffer.size() : end + 1) > maxHeaderBytes)
                return fail(QStringLiteral("a header section longer than %1 bytes").arg(maxHeaderBytes));
            if (end < 0)
                return false;
            const bool empty = length == 0 || (length == 1 && m_buffer.at(m_scanned) == '\r');
            m_scanned = end + 1;
            if (empty)
                break;
            if (++m_lines > sipMaxHeaders + 1)
                return fail(QStringLiteral("more than %1 header lines").arg(sipMaxHeaders));
        }
        m_headerEnd = m_scanned;
        m_bodyLength = contentLength(m_buffer.left(m_headerEnd));
        if (m_bodyLength < 0)
            return fail(QStringLiteral("a message without a valid Content-Length"));
        if (m_bodyLength > maxBodyBytes)
            return fail(QStringLiteral("a body of %1 bytes, more than %2").arg(m_bodyLength).arg(maxBodyBytes));
    }
    const int total = m_headerEnd + int(m_bodyLength);
    if (m_buffer.size() < total)
        return false;
    m_messages.append(m_buffer.left(total));
    m_buffer.remove(0, total);
    m_scanned = 0;
    m_lines = 0;
    m_headerEnd = -1;
    m_bodyLength = -1;
    return true;
}

qint64 SipStreamFramer::contentLength(const QByteArray &headers)
{
    qint64 length = -1;
    const QList<QByteArray> lines = headers.split('\n');
    // The first line is the start line.
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon <= 0 || line.startsWith(' ') || line.startsWith('\t'))
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (name != "content-length" && name != "l")
            continue;
        const QByteArray value = line.mid(colon + 1).trimmed();
        bool ok = !value.isEmpty() && value.size() <= 10;
        for (char c : value)
            ok = ok && c >= '0' && c <= '9';
        const qint64 parsed = ok ? value.toLongLong() : -1;
        // Two that disagree make the end of the message a guess.
        if (parsed < 0 || (length >= 0 && parsed != length))
            return -1;
        length = parsed;
    }
    return length;
}
