#include "looplatency.h"

#include "offscreenphone.h"

#include <QCoreApplication>

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
    return OffscreenPhone::rssKb(QCoreApplication::applicationPid());
}
