#ifndef LOOPLATENCY_H
#define LOOPLATENCY_H

// Watches whether the event loop keeps serving: a precise timer every
// `periodMs` records how late each tick came, and the process's resident memory.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class LoopLatency : public QObject
{
public:
    explicit LoopLatency(int periodMs = 50, QObject *parent = nullptr);

    void start();
    void stop() { m_timer.stop(); }

    qint64 worstLateMs = 0;
    int ticks = 0;
    qint64 peakRssKb = 0;

    static qint64 rssKb(); // this process, from /proc/self/status

    // The lateness a test allows: the release bound, or three times it when
    // AddressSanitizer slows every allocation and memory access.
    static qint64 allowedLateMs(qint64 releaseBound)
    {
#if defined(__SANITIZE_ADDRESS__)
        return releaseBound * 3;
#else
        return releaseBound;
#endif
    }

private:
    void tick();

    int m_period;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
};

#endif // LOOPLATENCY_H
