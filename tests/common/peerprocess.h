#ifndef PEERPROCESS_H
#define PEERPROCESS_H

#include <QProcess>

// Ends a process a test started: SIGTERM, and SIGKILL when it has not gone
// within graceMs. True when it had to be killed.
class PeerProcess
{
public:
    static bool stop(QProcess &process, int graceMs = 3000)
    {
        if (process.state() == QProcess::NotRunning)
            return false;
        process.terminate();
        if (process.waitForFinished(graceMs))
            return false;
        process.kill();
        process.waitForFinished(2000);
        return true;
    }
};

#endif // PEERPROCESS_H
