#ifndef PULSESTREAM_H
#define PULSESTREAM_H

// One raw 8000 Hz mono S16LE stream to or from the test PulseAudio daemon:
// `pacat` playing a buffer into a sink, or `parec` recording a monitor.
// Started and stopped by PID; the daemon itself is started by scripts/test.

#include <QByteArray>
#include <QProcess>
#include <QString>

class PulseStream
{
public:
    PulseStream() = default;
    ~PulseStream();
    PulseStream(const PulseStream &) = delete;
    PulseStream &operator=(const PulseStream &) = delete;

    // Empty when a PulseAudio server answers and Qt sees default devices;
    // otherwise why not, for a loud failure.
    static QString unavailable();

    bool play(const QString &sink, const QByteArray &pcm);
    bool record(const QString &source);
    // What the recorder delivered so far (drained).
    QByteArray take();
    bool running() const { return process.state() != QProcess::NotRunning; }
    void stop();
    QString errorString() const { return error; }

private:
    bool launch(const QString &program, const QStringList &args);

    QProcess process;
    QString error;
};

#endif // PULSESTREAM_H
