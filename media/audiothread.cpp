#include "audiothread.h"

#include <QDebug>

#include <pthread.h>
#include <sched.h>

AudioThread::AudioThread(QObject *parent)
    : QThread(parent)
{
    setObjectName(QStringLiteral("audio"));
    here.moveToThread(this);
    start(QThread::TimeCriticalPriority);
}

AudioThread::~AudioThread()
{
    quit();
    wait();
}

void AudioThread::run()
{
    // Round-robin real time at a modest level (below the sound server's own
    // threads); without the right to it the thread keeps the priority it
    // was started with.
    const sched_param realTime{sched_get_priority_min(SCHED_RR) + 1};
    const bool rt = pthread_setschedparam(pthread_self(), SCHED_RR, &realTime) == 0;
    qDebug().noquote() << (rt ? "!!! Audio thread in real time" : "!!! Audio thread at the highest ordinary priority");
    exec();
}
