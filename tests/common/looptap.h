#pragma once

// A capture of the loopback interface, as a packet sniffer would take it:
// every UDP datagram and every TCP segment that carries data or opens a
// connection, sent on lo, with its time, addresses, ports and payload, read on
// a thread of its own through a packet socket (root in the test's private
// network namespace).

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QThread>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>

class LoopTap : public QThread
{
public:
    // ms since open(); addresses in host order (127.0.0.1 is 0x7f000001); opens: a TCP SYN
    struct Datagram { qint64 ms; quint32 source, destination; quint16 from, to; QByteArray payload; bool opens; };

    ~LoopTap() override { m_stop = true, wait(); if (m_fd >= 0) ::close(m_fd); }

    // False when the packet socket cannot be opened (not root).
    bool open()
    {
        m_fd = ::socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_IP);
        at.sll_ifindex = int(if_nametoindex("lo"));
        const timeval tick{0, 100000};
        const int buffer = 8 << 20;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0
            || ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick) != 0)
            return false;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        m_clock.start();
        start();
        return true;
    }
    // The datagrams to port `port` seen after `sinceMs`.
    QList<Datagram> to(quint16 port, qint64 sinceMs = 0) const
    {
        QMutexLocker lock(&m_mutex);
        QList<Datagram> out;
        for (const Datagram &d : m_seen)
            if (d.to == port && d.ms >= sinceMs)
                out << d;
        return out;
    }
    qint64 now() const { return m_clock.elapsed(); }
    void clear() { QMutexLocker lock(&m_mutex); m_seen.clear(); }

protected:
    void run() override
    {
        unsigned char buffer[2048];
        while (!m_stop) {
            sockaddr_ll at{};
            socklen_t size = sizeof at;
            const ssize_t got = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&at), &size);
            // Loopback shows each packet leaving and arriving: keep it once.
            if (got < 28 || at.sll_pkttype == PACKET_OUTGOING || (buffer[9] != 17 && buffer[9] != 6) || (buffer[0] >> 4) != 4)
                continue;
            const int ip = (buffer[0] & 0x0F) * 4, tcp = buffer[9] == 6, header = tcp ? qMax(20, (buffer[ip + 12] >> 4) * 4) : 8;
            // SYN without ACK: a connection opened.
            const bool opens = tcp && (buffer[ip + 13] & 0x12) == 0x02;
            if (got < ip + header || (tcp && got == ip + header && !opens))
                continue;
            const auto word = [&](int at, int bytes) { quint32 v = 0; while (bytes--) v = v << 8 | buffer[at++]; return v; };
            QMutexLocker lock(&m_mutex);
            m_seen.append({m_clock.elapsed(), word(12, 4), word(16, 4), quint16(word(ip, 2)), quint16(word(ip + 2, 2)),
                           QByteArray(reinterpret_cast<char *>(buffer) + ip + header, int(got) - ip - header), opens});
        }
    }

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    mutable QMutex m_mutex;
    QList<Datagram> m_seen;
    QElapsedTimer m_clock;
};
