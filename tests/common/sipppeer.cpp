#include "sipppeer.h"

#include <QFile>
#include <QSignalSpy>

bool SippPeer::start(const QString &scenario, const QString &address, quint16 port, const QString &remote,
                     const QStringList &extra)
{
    // SIPp binds four media ports from -mp on (audio and video, RTP and
    // RTCP): all four must be free, and the control port outside them.
    quint16 mediaPort = freePort(4);
    while (port >= mediaPort && port < mediaPort + 4)
        mediaPort = freePort(4);
    quint16 controlPort = freePort();
    while (controlPort >= mediaPort && controlPort < mediaPort + 4)
        controlPort = freePort();
    QStringList arguments{"-sf", scenario, "-i", address, "-p", QString::number(port),
                          "-mp", QString::number(mediaPort), "-cp", QString::number(controlPort),
                          "-m", "1", "-nostdin", "-timeout", "30s", "-timeout_error",
                          "-trace_err", "-error_file", path("errors.log"),
                          "-trace_msg", "-message_file", path("messages.log")};
    arguments += extra;
    if (!remote.isEmpty())
        arguments << remote;
    // Ready once the kernel lists its socket; probing by binding the port
    // ourselves would race with SIPp's own bind.
    return launch(arguments) && waitReady([&] { return udpBound(QHostAddress(address), port); }, 10000,
                                          QStringLiteral("SIP socket on %1:%2").arg(address).arg(port));
}

bool SippPeer::finish(int ms)
{
    if (running()) {
        QSignalSpy spy(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        if (!spy.wait(ms)) {
            stop();
            return fail(QStringLiteral("sipp did not finish within %1 ms: %2").arg(ms).arg(report()));
        }
    }
    m_exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    return m_exitCode == 0 || fail(QStringLiteral("sipp exited with %1: %2").arg(m_exitCode).arg(report()));
}

QString SippPeer::report() const
{
    QString text;
    for (const char *name : {"errors.log", "messages.log", "output.log"}) {
        QFile file(path(QLatin1String(name)));
        if (file.open(QIODevice::ReadOnly))
            text += QStringLiteral("\n--- %1 ---\n%2").arg(QLatin1String(name), QString::fromUtf8(file.readAll().right(3000)));
    }
    return text;
}
