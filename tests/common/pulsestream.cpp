#include "pulsestream.h"

#include "peerprocess.h"

#include <QAudioDeviceInfo>
#include <QProcessEnvironment>

PulseStream::~PulseStream()
{
    stop();
}

QString PulseStream::unavailable()
{
    QProcess info;
    info.start(QStringLiteral("pactl"), { QStringLiteral("info") });
    if (!info.waitForStarted(5000))
        return QStringLiteral("pactl cannot be started: install pulseaudio-utils");
    info.waitForFinished(5000);
    if (info.exitStatus() != QProcess::NormalExit || info.exitCode() != 0) {
        return QStringLiteral("no PulseAudio server answers (PULSE_SERVER=\"%1\"); run the tests through "
                              "scripts/test, which starts a private daemon with null devices")
            .arg(qEnvironmentVariable("PULSE_SERVER"));
    }
    if (QAudioDeviceInfo::defaultInputDevice().isNull() || QAudioDeviceInfo::defaultOutputDevice().isNull())
        return QStringLiteral("PulseAudio answers but Qt sees no default audio device: is libqt5multimedia5-plugins installed?");
    return QString();
}

bool PulseStream::launch(const QString &program, const QStringList &args)
{
    stop();
    process.start(program, args);
    if (!process.waitForStarted(5000)) {
        error = program + QStringLiteral(": ") + process.errorString();
        return false;
    }
    return true;
}

bool PulseStream::play(const QString &sink, const QByteArray &pcm)
{
    if (!launch(QStringLiteral("pacat"), { QStringLiteral("--playback"), QStringLiteral("-d"), sink,
                                          QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                                          QStringLiteral("--rate=8000"), QStringLiteral("--channels=1"),
                                          QStringLiteral("--latency-msec=20") }))
        return false;
    process.write(pcm);
    process.closeWriteChannel();
    return true;
}

bool PulseStream::record(const QString &source)
{
    return launch(QStringLiteral("parec"), { QStringLiteral("-d"), source, QStringLiteral("--raw"),
                                            QStringLiteral("--format=s16le"), QStringLiteral("--rate=8000"),
                                            QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=10") });
}

QByteArray PulseStream::take()
{
    return process.readAllStandardOutput();
}

void PulseStream::stop()
{
    PeerProcess::stop(process);
}
