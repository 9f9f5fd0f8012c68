#pragma once

// One raw mono S16LE stream (8000 Hz unless asked otherwise) to or from the test PulseAudio
// daemon: `pacat` playing a buffer into a sink, or `parec` recording a monitor. The daemon
// itself is started by scripts/test.

#include "peerprocess.h"

#include <QAudioDeviceInfo>
#include <QFile>

class PulseStream : public PeerProcess
{
public:
    PulseStream() : PeerProcess(QStringLiteral("pacat")) {}

    // Empty when a PulseAudio server answers and Qt sees default devices;
    // otherwise why not, for a loud failure.
    static QString unavailable()
    {
        if (!runTool(QStringLiteral("pactl"), {QStringLiteral("info")}))
            return QStringLiteral("no PulseAudio server answers to pactl (PULSE_SERVER=\"%1\"); run the tests through "
                                  "scripts/test, which starts a private daemon with null devices")
                .arg(qEnvironmentVariable("PULSE_SERVER"));
        if (QAudioDeviceInfo::defaultInputDevice().isNull() || QAudioDeviceInfo::defaultOutputDevice().isNull())
            return QStringLiteral("PulseAudio answers but Qt sees no default audio device: is libqt5multimedia5-plugins installed?");
        return QString();
    }

    // From a file, not through a pipe the test's event loop must keep filled: on a loaded
    // machine a test busy measuring left the player starved and the microphone silent.
    bool play(const QString &sink, const QByteArray &pcm, int rate = 8000)
    {
        stop();
        QFile file(path(QStringLiteral("play.raw")));
        if (!file.open(QIODevice::WriteOnly) || file.write(pcm) != pcm.size())
            return fail(QStringLiteral("cannot write %1").arg(file.fileName()));
        file.close();
        return run(QStringLiteral("pacat"), {"--playback", "-d", sink, "--latency-msec=20", file.fileName()}, rate);
    }
    bool record(const QString &source, int rate = 8000) { return run(QStringLiteral("parec"), {"-d", source, "--latency-msec=10"}, rate); }
    // What the recorder delivered so far (drained).
    QByteArray take() { return m_process.readAllStandardOutput(); }

private:
    bool run(const QString &program, const QStringList &arguments, int rate)
    {
        stop();
        m_program = program;
        return launch(arguments + QStringList{"--raw", "--format=s16le", "--rate=" + QString::number(rate), "--channels=1"}, true);
    }
};
