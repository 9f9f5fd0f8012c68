#ifndef AUDIOTHREAD_H
#define AUDIOTHREAD_H

// The thread the call's sound lives on: the audio devices, the capture path
// (echo canceller, encoder), the RTP session with its socket and the jitter
// buffer the speaker pulls from. Its own event loop serves the devices'
// timers and the socket, so a busy window cannot stall them. It takes a
// larger share of a busy CPU where the system allows it.

#include <QMetaObject>
#include <QObject>
#include <QThread>

class AudioThread : public QThread
{
    Q_OBJECT

public:
    explicit AudioThread(QObject *parent = nullptr);
    // Quits the loop and waits for it.
    ~AudioThread() override;

    // An object living on this thread, to run work there.
    QObject *context() { return &here; }

protected:
    void run() override;

private:
    QObject here;
};

// Runs `f` on the thread `target` lives on and waits for it to finish: at
// once when that is the calling thread. The target's thread must be running.
template <typename F>
void runOn(QObject *target, F f)
{
    if (target->thread() == QThread::currentThread())
        f();
    else
        QMetaObject::invokeMethod(target, f, Qt::BlockingQueuedConnection);
}

#endif // AUDIOTHREAD_H
