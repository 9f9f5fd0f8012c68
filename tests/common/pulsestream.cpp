#include "pulsestream.h"

#include <QAudioDeviceInfo>

QString PulseStream::unavailable()
{
    QProcess info;
    info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    if (!info.waitForStarted(5000))
        return QStringLiteral("pactl cannot be started: install pulseaudio-utils");
    info.waitForFinished(5000);
    if (info.exitStatus() != QProcess::NormalExit || info.exitCode() != 0)
        return QStringLiteral("no PulseAudio server answers (PULSE_SERVER=\"%1\"); run the tests through "
                              "scripts/test, which starts a private daemon with null devices")
            .arg(qEnvironmentVariable("PULSE_SERVER"));
    if (QAudioDeviceInfo::defaultInputDevice().isNull() || QAudioDeviceInfo::defaultOutputDevice().isNull())
        return QStringLiteral("PulseAudio answers but Qt sees no default audio device: is libqt5multimedia5-plugins installed?");
    return QString();
}

bool PulseStream::run(const QString &program, const QStringList &arguments)
{
    stop();
    m_program = program;
    return launch(arguments + QStringList{"--raw", "--format=s16le", "--rate=8000", "--channels=1"}, true);
}

bool PulseStream::play(const QString &sink, const QByteArray &pcm)
{
    if (!run(QStringLiteral("pacat"), {"--playback", "-d", sink, "--latency-msec=20"}))
        return false;
    m_process.write(pcm);
    m_process.closeWriteChannel();
    return true;
}

bool PulseStream::record(const QString &source)
{
    return run(QStringLiteral("parec"), {"-d", source, "--latency-msec=10"});
}
