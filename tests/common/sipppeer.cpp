#include "sipppeer.h"

#include "siptestserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QUdpSocket>

SippPeer::~SippPeer()
{
    stop();
}

bool SippPeer::start(const QString &scenario, const QString &address, quint16 port, const QString &remote,
                     const QStringList &extra)
{
    m_address = address;
    m_port = port;
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory for sipp");
        return false;
    }
    QStringList arguments{"-sf", scenario, "-i", address, "-p", QString::number(port),
                          "-mp", QString::number(SipTestServer::freePort()),
                          "-cp", QString::number(SipTestServer::freePort()),
                          "-m", "1", "-nostdin", "-timeout", "30s", "-timeout_error",
                          "-trace_err", "-error_file", m_dir.filePath(QStringLiteral("errors.log")),
                          "-trace_msg", "-message_file", m_dir.filePath(QStringLiteral("messages.log"))};
    arguments += extra;
    if (!remote.isEmpty())
        arguments << remote;
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("screen.log")));
    m_process.start(QStringLiteral("sipp"), arguments);
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("sipp did not start: %1").arg(m_process.errorString());
        return false;
    }
    // SIPp binds without address sharing, so a port we cannot bind is its.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("sipp exited with %1: %2").arg(m_process.exitCode()).arg(report());
            return false;
        }
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(address), port))
            return true;
        probe.close();
        m_process.waitForFinished(50);
    }
    m_error = QStringLiteral("sipp did not bind %1:%2 within 10 s").arg(address).arg(port);
    stop();
    return false;
}

bool SippPeer::finish(int ms)
{
    if (m_process.state() != QProcess::NotRunning) {
        QSignalSpy spy(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        if (!spy.wait(ms)) {
            m_error = QStringLiteral("sipp did not finish within %1 ms: %2").arg(ms).arg(report());
            stop();
            return false;
        }
    }
    m_exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    if (m_exitCode != 0)
        m_error = QStringLiteral("sipp exited with %1: %2").arg(m_exitCode).arg(report());
    return m_exitCode == 0;
}

void SippPeer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QString SippPeer::report() const
{
    QString text;
    for (const char *name : {"errors.log", "messages.log", "screen.log"}) {
        QFile file(m_dir.filePath(QLatin1String(name)));
        if (file.open(QIODevice::ReadOnly))
            text += QStringLiteral("\n--- %1 ---\n%2").arg(QLatin1String(name),
                                                          QString::fromUtf8(file.readAll().right(3000)));
    }
    return text;
}
