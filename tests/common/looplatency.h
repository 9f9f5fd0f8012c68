#pragma once

// Watches whether the event loop keeps serving: a precise timer every
// `periodMs` records how late each tick came, and the process's resident memory.

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

class LoopLatency : public QObject
{
public:
    explicit LoopLatency(int periodMs = 50, QObject *parent = nullptr) : QObject(parent), m_period(periodMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            worstLateMs = qMax(worstLateMs, m_clock.restart() - m_period);
            if (++ticks % 10 == 0)
                peakRssKb = qMax(peakRssKb, rssKb());
        });
    }
    void start() { worstLateMs = ticks = 0, peakRssKb = rssKb(), m_clock.start(), m_timer.start(m_period); }
    void stop() { m_timer.stop(); }

    qint64 worstLateMs = 0;
    int ticks = 0;
    qint64 peakRssKb = 0;

    // This process's resident memory, from /proc/self/status.
    static qint64 rssKb()
    {
        QFile f(QStringLiteral("/proc/self/status"));
        const QByteArray status = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        const int at = status.indexOf("VmRSS:") + 6;
        return at < 6 ? 0 : status.mid(at, status.indexOf('\n', at) - at).simplified().split(' ').first().toLongLong();
    }
    // The lateness a test allows: the release bound, or three times it when
    // AddressSanitizer slows every allocation and memory access.
#if defined(__SANITIZE_ADDRESS__)
    static qint64 allowedLateMs(qint64 releaseBound) { return releaseBound * 3; }
#else
    static qint64 allowedLateMs(qint64 releaseBound) { return releaseBound; }
#endif

private:
    int m_period;
    QTimer m_timer;
    QElapsedTimer m_clock;
};
