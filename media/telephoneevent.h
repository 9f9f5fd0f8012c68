#ifndef TELEPHONEEVENT_H
#define TELEPHONEEVENT_H

// Key presses as RTP events (RFC 4733): the 4-byte event payload, a sender
// that turns one key into the packets of each 20 ms tick, and a receiver that
// reports each event once however often its packets repeat.

#include <QByteArray>
#include <QChar>
#include <QQueue>

// Keys 0-9 * # A-D are events 0-15 (RFC 4733 3.2); -1 or a null char otherwise.
int telephoneEventOf(QChar digit);
QChar telephoneEventDigit(int event);

struct TelephoneEventPayload
{
    static constexpr int size = 4;

    int event = 0;
    bool end = false;
    int volume = 10;        // dBm0 below 0, 0-63
    quint16 duration = 0;   // in RTP clock units since the event's timestamp

    QByteArray encode() const;
    // False for fewer than 4 bytes.
    bool decode(const unsigned char *data, int len);
};

// What the RTP session sends in place of a voice packet in one tick; the
// session numbers it with the voice's sequence numbers and SSRC.
struct TelephoneEventPacket
{
    QByteArray payload;
    bool marker = false;
    quint32 timestamp = 0;
};

class TelephoneEventSender
{
public:
    static constexpr int minimumMs = 100;
    static constexpr int endPackets = 3;

    explicit TelephoneEventSender(int clockRate = 8000, int tickMs = 20);

    // Queues a key; it lasts the minimum, as a pressed key on the pad.
    // False (nothing queued) for a key that is no event.
    bool press(QChar digit);
    // At each tick, `now` being the timestamp a voice packet would carry:
    // true with the event packet to send instead, false when none is due.
    bool tick(quint32 now, TelephoneEventPacket &packet);
    bool idle() const { return !m_active && m_keys.isEmpty(); }
    void clear();

private:
    int m_tickUnits;
    int m_minimumUnits;
    QQueue<int> m_keys;
    bool m_active = false;
    int m_event = 0;
    quint32 m_timestamp = 0;
    int m_duration = 0;
    int m_endsSent = 0;
};

class TelephoneEventReceiver
{
public:
    // For a packet of the event payload type: the key when it is the first
    // packet seen of a new event (a later timestamp), else a null char.
    QChar take(quint32 timestamp, const unsigned char *payload, int len);
    void reset() { m_seen = false; }

private:
    bool m_seen = false;
    quint32 m_last = 0;
};

#endif // TELEPHONEEVENT_H
