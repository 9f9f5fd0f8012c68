#include "telephoneevent.h"

namespace {
const char keys[] = "0123456789*#ABCD";
}

int telephoneEventOf(QChar digit)
{
    const char c = digit.toUpper().toLatin1();
    for (int i = 0; c && i < 16; ++i)
        if (keys[i] == c)
            return i;
    return -1;
}

QChar telephoneEventDigit(int event)
{
    return event >= 0 && event < 16 ? QChar(QLatin1Char(keys[event])) : QChar();
}

QByteArray TelephoneEventPayload::encode() const
{
    QByteArray out(size, '\0');
    out[0] = char(event & 0xFF);
    out[1] = char((end ? 0x80 : 0) | (volume & 0x3F));
    out[2] = char(duration >> 8);
    out[3] = char(duration & 0xFF);
    return out;
}

bool TelephoneEventPayload::decode(const unsigned char *data, int len)
{
    if (!data || len < size)
        return false;
    event = data[0];
    end = data[1] & 0x80;
    volume = data[1] & 0x3F;
    duration = quint16(data[2] << 8 | data[3]);
    return true;
}

TelephoneEventSender::TelephoneEventSender(int clockRate, int tickMs)
    : m_tickUnits(clockRate * tickMs / 1000), m_minimumUnits(clockRate * minimumMs / 1000)
{
}

bool TelephoneEventSender::press(QChar digit)
{
    const int event = telephoneEventOf(digit);
    if (event < 0)
        return false;
    m_keys.enqueue(event);
    return true;
}

void TelephoneEventSender::clear()
{
    m_keys.clear();
    m_active = false;
}

bool TelephoneEventSender::tick(quint32 now, TelephoneEventPacket &packet)
{
    packet.marker = false;
    if (!m_active) {
        if (m_keys.isEmpty())
            return false;
        // A new event: its own timestamp, the marker on its first packet.
        m_event = m_keys.dequeue();
        m_active = true;
        m_timestamp = now;
        m_duration = 0;
        m_endsSent = 0;
        packet.marker = true;
    }
    TelephoneEventPayload p;
    p.event = m_event;
    if (m_endsSent == 0) {
        m_duration += m_tickUnits;
        p.end = m_duration >= m_minimumUnits;
    } else {
        p.end = true; // the end packet again, the same duration (RFC 4733 2.5.1.4)
    }
    p.duration = quint16(m_duration);
    if (p.end && ++m_endsSent == endPackets)
        m_active = false;
    packet.payload = p.encode();
    packet.timestamp = m_timestamp;
    return true;
}

QChar TelephoneEventReceiver::take(quint32 timestamp, const unsigned char *payload, int len)
{
    TelephoneEventPayload p;
    // A new event has a later timestamp; repeats, and late packets of an
    // earlier event, do not (serial arithmetic across the wrap).
    if (!p.decode(payload, len) || (m_seen && qint32(timestamp - m_last) <= 0))
        return QChar();
    m_seen = true;
    m_last = timestamp;
    return telephoneEventDigit(p.event);
}
