#include "audiothread.h"

#include <QDebug>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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
    // A larger share of a busy CPU than the window's threads (nice -10), where
    // the system allows it; else the priority it was started with. Real-time
    // scheduling was tried: it cost a third more CPU a second and 30 ms of
    // mouth-to-wire delay (bench_phone), as every device period preempted the
    // sound server.
    const bool raised = setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), -10) == 0;
    qDebug().noquote() << (raised ? "!!! Audio thread at nice -10" : "!!! Audio thread at the highest ordinary priority");
    exec();
}
