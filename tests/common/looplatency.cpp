#include "looplatency.h"

#include <QFile>

LoopLatency::LoopLatency(int periodMs, QObject *parent)
    : QObject(parent), m_period(periodMs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LoopLatency::tick);
}

void LoopLatency::start()
{
    worstLateMs = 0;
    ticks = 0;
    peakRssKb = rssKb();
    m_clock.start();
    m_last = 0;
    m_timer.start(m_period);
}

void LoopLatency::tick()
{
    const qint64 now = m_clock.elapsed();
    worstLateMs = qMax(worstLateMs, now - m_last - m_period);
    m_last = now;
    ++ticks;
    if (ticks % 10 == 0)
        peakRssKb = qMax(peakRssKb, rssKb());
}

qint64 LoopLatency::rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}
