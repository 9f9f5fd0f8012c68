#ifndef PULSESTREAM_H
#define PULSESTREAM_H

// One raw 8000 Hz mono S16LE stream to or from the test PulseAudio daemon:
// `pacat` playing a buffer into a sink, or `parec` recording a monitor. The
// daemon itself is started by scripts/test.

#include "peerprocess.h"

#include <QByteArray>

class PulseStream : public PeerProcess
{
public:
    PulseStream() : PeerProcess(QStringLiteral("pacat")) {}

    // Empty when a PulseAudio server answers and Qt sees default devices;
    // otherwise why not, for a loud failure.
    static QString unavailable();

    bool play(const QString &sink, const QByteArray &pcm);
    bool record(const QString &source);
    // What the recorder delivered so far (drained).
    QByteArray take() { return m_process.readAllStandardOutput(); }

private:
    bool run(const QString &program, const QStringList &arguments);
};

#endif // PULSESTREAM_H
